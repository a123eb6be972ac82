#include "model/traffic_model.h"

#include <gtest/gtest.h>

#include <memory>

#include "engine/app_state.h"
#include "tests/model_test_support.h"

namespace {

class TrafficModelTest : public ::testing::Test {
 protected:
  CAppState state;
  CTrafficModel& model = state.Model();

  CPacketRef Add(const CPacketFields& f) {
    auto payload = Bytes(static_cast<std::size_t>(f.totalLength - f.headerLength));
    return model.Record(f, payload);
  }
};

TEST_F(TrafficModelTest, RecordFeedsEveryStructure) {
  auto r = Add(TcpFields(kDirSent, 1, 60, {1000, 0}));
  EXPECT_EQ(model.hosts.Size(), 1u);
  EXPECT_EQ(model.hosts.Hosts()[0].bytesSent, 100u);
  EXPECT_EQ(model.sampler.Sent().back(), 100u);
  EXPECT_EQ(model.conversations.Size(), 1u);
  ASSERT_EQ(model.recent.size(), 1u);
  EXPECT_EQ(model.recent[0].get(), r.get());
  EXPECT_EQ(model.newData, 1);
  EXPECT_EQ(r->Payload().size(), 60u);
}

TEST_F(TrafficModelTest, PayloadCopyFollowsHeaderOnlyAndCapturedBytes) {
  state.headerOnly = 1;
  auto f = TcpFields(kDirSent, 1, 1460);
  auto big = Add(f);
  EXPECT_EQ(big->headerOnly, 1);
  EXPECT_TRUE(big->Payload().empty());
  EXPECT_EQ(model.conversations.Conversations()[0]->bytesSent, 1500u);
  state.headerOnly = 0;
  auto later = Add(TcpFields(kDirSent, 2000, 10));
  EXPECT_EQ(later->Payload().size(), 10u);
  EXPECT_TRUE(big->Payload().empty());

  auto u = UdpFields(kDirSent, 1);
  const uint8_t one[] = {'Z'};
  auto tiny = model.Record(u, one);
  ASSERT_EQ(tiny->Payload().size(), 1u);
  EXPECT_EQ(tiny->Payload()[0], 'Z');

  // Captured short: keeps what arrived, claims the rest.
  auto shortFrame = model.Record(TcpFields(kDirSent, 9000, 100), Bytes(30));
  EXPECT_EQ(shortFrame->Payload().size(), 30u);
  EXPECT_EQ(shortFrame->PayloadLength(), 100);
  // More bytes than the header claims (padding): only the claimed part.
  auto padded = model.Record(TcpFields(kDirSent, 9100, 4), Bytes(10));
  EXPECT_EQ(padded->Payload().size(), 4u);
}

TEST_F(TrafficModelTest, RecentListTrimsTo90AfterMoreThan100) {
  for (uint32_t i = 0; i < 100; ++i) {
    Add(TcpFields(kDirSent, i, 1));
    model.TrimRecent();
  }
  EXPECT_EQ(model.recent.size(), 100u);
  auto last = Add(TcpFields(kDirSent, 500, 1));
  model.TrimRecent();
  ASSERT_EQ(model.recent.size(), 90u);
  EXPECT_EQ(model.recent.back().get(), last.get());
}

TEST_F(TrafficModelTest, RecordsOutliveTheirConversationWhileRecent) {
  std::weak_ptr<CPacketRecord> kept = Add(TcpFields(kDirSent, 1, 10));
  for (uint32_t i = 0; i < 300; ++i) Add(TcpFields(kDirSent, 2 + i, 1));
  // The 302nd record is not kept by its full conversation: only the recent
  // list holds it.
  std::weak_ptr<CPacketRecord> unkept = Add(TcpFields(kDirSent, 5000, 1));
  model.TrimRecent();
  EXPECT_FALSE(unkept.expired());
  model.conversations.Clear();
  EXPECT_TRUE(kept.expired());       // not recent any more, conversation gone
  ASSERT_FALSE(unkept.expired());    // still in the recent list: readable
  EXPECT_EQ(unkept.lock()->seq, 5000u);
  model.ClearRecent();
  EXPECT_TRUE(unkept.expired());     // released once nobody holds it
}

TEST_F(TrafficModelTest, HostStatsClearLeavesConversationsAndSampler) {
  Add(TcpFields(kDirSent, 1, 10));
  model.hosts.Clear();
  model.ClearRecent();
  EXPECT_TRUE(model.recent.empty());
  EXPECT_EQ(model.conversations.Conversations()[0]->sent.size(), 1u);
  EXPECT_EQ(model.sampler.Sent().size(), 1u);
}

TEST_F(TrafficModelTest, GraphRebuildPadsToNowAndPicksTheScale) {
  model.sampler.Update(50, 99, {1000, 0});
  model.sampler.Update(10, 0, {1005, 0});
  state.graphSampleTime = 1005 + 15;  // three buckets later
  model.RebuildGraph();
  EXPECT_EQ(model.graphSent, (std::vector<uint64_t>{50, 10, 0, 0, 0}));
  EXPECT_EQ(model.graphReceived, (std::vector<uint64_t>{99, 0, 0, 0, 0}));
  EXPECT_EQ(model.graphMaximum, 100u);
  EXPECT_EQ(model.scaleLabels,
            (std::vector<std::string>{"20 B.", "40 B.", "60 B.", "80 B.", "100 B."}));

  state.graphSampleTime = 1005 + 5 * 40;  // 40 buckets: too old to show
  model.RebuildGraph();
  EXPECT_TRUE(model.graphSent.empty());
  EXPECT_EQ(model.graphMaximum, 100u);
}

struct ScaleCase {
  uint64_t maximum;
  uint64_t full;
  std::vector<std::string> labels;
};

class GraphScaleTest : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(GraphScaleTest, ChoosesTheFirstRowAboveTheMaximum) {
  uint64_t m = GetParam().maximum;
  std::vector<std::string> labels{"stale"};
  ChooseGraphScale(m, labels);
  EXPECT_EQ(m, GetParam().full);
  EXPECT_EQ(labels, GetParam().labels);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GraphScaleTest,
    ::testing::Values(
        ScaleCase{0, 100, {"20 B.", "40 B.", "60 B.", "80 B.", "100 B."}},
        ScaleCase{99, 100, {"20 B.", "40 B.", "60 B.", "80 B.", "100 B."}},
        ScaleCase{100, 500, {"100 B.", "200 B.", "300 B.", "400 B.", "500 B."}},
        ScaleCase{5119, 5120, {"1 KB", "2 KB", "3 KB", "4 KB", "5 KB"}},
        ScaleCase{1048575, 1048576, {"200 KB", "400 KB", "600 KB", "800 KB", "1000 KB"}},
        ScaleCase{1048576, 10485760, {"2 MB", "4 MB", "6 MB", "8 MB", "10 MB"}},
        ScaleCase{1073741823, 1073741824, {"200 MB", "400 MB", "600 MB", "800 MB", "1000 MB"}},
        // Beyond the table the maximum stays, labelled at half and full.
        ScaleCase{1073741824, 1073741824, {"1 GB", "1 GB"}},
        ScaleCase{5368709120ull, 5368709120ull, {"3 GB", "5 GB"}},
        ScaleCase{4294967296ull, 4294967296ull, {"2 GB", "4 GB"}}));

TEST(AppStateLifetime, DestroysModelWithEverythingInIt) {
  std::weak_ptr<CPacketRecord> r;
  {
    CAppState s;
    s.interfaces.push_back(std::make_unique<CInterfaceRecord>());
    r = s.Model().Record(TcpFields(kDirSent, 1, 5), Bytes(5));
    s.Model().Record(FragmentFields(kDirReceived, 3), Bytes(100));
  }
  EXPECT_TRUE(r.expired());
}

}  // namespace
