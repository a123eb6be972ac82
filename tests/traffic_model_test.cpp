// The model's rules with their expected values spelled out; the
// differential test holds the model to a plain reference over long streams.
#include "model/traffic_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/graph_series.h"
#include "tests/test_support.h"

namespace {

class TrafficModelTest : public ::testing::Test {
 protected:
  TrafficModelTest() {
    model.conversations.SetFinalListener(
        [this](const CConversationSnapshot& s) { finals.push_back(s.convId); });
  }

  CPacketRef Add(const CPacketFields& f, EHostRole role = EHostRole::kClient) {
    const std::vector<uint8_t> payload(static_cast<std::size_t>(f.totalLength - f.headerLength), 'x');
    return model.Record(f, payload, {false, role});
  }
  const CConversation& Conv(std::size_t i) { return *model.conversations.Conversations().at(i); }

  CCancelToken cancel;
  CTrafficModel model{cancel};
  std::vector<int> finals;
};

TEST_F(TrafficModelTest, ClientExchangeClosesOnTheNextRequest) {
  Add(TcpFields(kSent, 100, 10, {10, 0}));
  Add(TcpFields(kSent, 110, 10, {10, 200000}));
  Add(TcpFields(kReceived, 500, 20, {10, 500000}));
  Add(TcpFields(kReceived, 520, 20, {10, 900000}));
  EXPECT_TRUE(finals.empty());
  Add(TcpFields(kSent, 120, 10, {11, 0}));

  ASSERT_EQ(model.conversations.Size(), 2u);
  const CConversation& first = Conv(0);
  EXPECT_TRUE(first.closed);
  EXPECT_EQ(first.bytesSent, 100u);
  EXPECT_EQ(first.bytesReceived, 120u);
  EXPECT_EQ(first.times, (std::array<CTimeStamp, 4>{{{10, 0}, {10, 200000}, {10, 500000}, {10, 900000}}}));
  EXPECT_EQ(first.ResponseMicros(), 900000);
  EXPECT_EQ(Conv(1).convId, 2);
  EXPECT_EQ(finals, (std::vector<int>{1}));
}

TEST_F(TrafficModelTest, ServerExchangeOpensWithAReceivedRequest) {
  const EHostRole server = EHostRole::kServer;
  Add(TcpFields(kReceived, 1, 10, {5, 0}), server);
  Add(TcpFields(kReceived, 11, 10, {5, 100000}), server);
  Add(TcpFields(kSent, 1, 10, {5, 400000}), server);
  Add(TcpFields(kReceived, 21, 10, {6, 0}), server);
  ASSERT_EQ(model.conversations.Size(), 2u);
  EXPECT_EQ(Conv(0).times, (std::array<CTimeStamp, 4>{{{5, 0}, {5, 100000}, {5, 400000}, {5, 400000}}}));
  EXPECT_EQ(Conv(0).hostRole, server);
  EXPECT_EQ(finals, (std::vector<int>{1}));
}

TEST_F(TrafficModelTest, KeepsAtMost300RecordsPerDirectionInSignedSequenceOrder) {
  Add(TcpFields(kSent, 0x7FFFFFF0u, 1));
  Add(TcpFields(kSent, 0x80000010u, 1));  // past 2^31: negative, so first
  Add(TcpFields(kSent, 100, 1));
  const CPacketRef retransmission = Add(TcpFields(kSent, 100, 1));
  const auto& sent = Conv(0).sent;
  EXPECT_EQ(sent[0]->seq, 0x80000010u);
  EXPECT_EQ(sent[1], retransmission);  // in front of the copy kept before
  for (uint32_t i = 0; i < 300; ++i) Add(TcpFields(kSent, 200 + i, 1));
  EXPECT_EQ(Conv(0).sent.size(), 300u);
  EXPECT_EQ(Conv(0).packetsSent, 304u);
}

TEST_F(TrafficModelTest, TrimmingAndClearAnnounceWhatWasNotFinalAndIdsRunOn) {
  for (int i = 0; i < 2001; ++i) Add(TcpFields(kSent, 1, 1, {1000, 0}, CIpAddr(10, 1, i / 256, i % 256)));
  ASSERT_EQ(model.conversations.Size(), 1600u);
  EXPECT_EQ(Conv(0).convId, 402);
  EXPECT_EQ(model.conversations.FindById(401), nullptr);
  EXPECT_EQ(finals.size(), 401u);
  model.conversations.FinishAll();
  EXPECT_EQ(finals.size(), 2001u);
  model.conversations.Clear();  // all final already: nothing more
  EXPECT_EQ(finals.size(), 2001u);
  Add(TcpFields(kSent, 1, 1));
  EXPECT_EQ(Conv(0).convId, 2002);
}

TEST_F(TrafficModelTest, LaterFragmentsJoinByIdentificationOfTheirDirectionOrWait) {
  CPacketFields first = TcpFields(kReceived, 1, 100);  // a first fragment: filed by its ports
  first.identification = 7;
  first.fragment = true;
  CPacketFields later = first;
  later.fragment = false;
  later.laterFragment = true;
  later.localPort = later.remotePort = 0;
  later.seq = 0;
  CPacketFields stranger = later;
  stranger.remote = CIpAddr(10, 0, 5, 6);
  CPacketFields sentLater = later;  // the same number from this end is another datagram
  sentLater.direction = kSent;
  Add(later);     // before its conversation: it waits
  Add(stranger);  // an equal identification from another host is chance
  Add(sentLater);
  EXPECT_EQ(model.conversations.PendingFragments().size(), 3u);
  Add(first);
  ASSERT_EQ(model.conversations.Size(), 1u);
  EXPECT_EQ(Conv(0).packetsReceived, 2u);
  EXPECT_EQ(Conv(0).received.front()->remotePort, 80);
  EXPECT_EQ(model.conversations.PendingFragments().size(), 2u);
  CPacketFields sentFirst = first;  // the next request, a sent datagram
  sentFirst.direction = kSent;
  Add(sentFirst);
  ASSERT_EQ(model.conversations.Size(), 2u);
  EXPECT_EQ(Conv(1).packetsSent, 2u);
  EXPECT_EQ(model.conversations.PendingFragments().size(), 1u);
  model.conversations.FinishAll();
  Add(sentLater);  // found among the sent records
  Add(later);      // joins the final conversation without a second announcement
  EXPECT_EQ(Conv(1).packetsSent, 3u);
  EXPECT_EQ(Conv(0).packetsReceived, 3u);
  EXPECT_EQ(finals, (std::vector<int>{1, 2}));
}

TEST_F(TrafficModelTest, HostsInFamilyThenAddressOrderWithinTheirBounds) {
  const CIpAddr v6 = CIpAddr::V6({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  for (CIpAddr a : {CIpAddr(200, 0, 0, 1), v6, CIpAddr(9, 9, 9, 9)}) Add(UdpFields(kSent, 5, {1, 0}, a));
  const auto& hosts = model.hosts.Hosts();
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[0].address, CIpAddr(9, 9, 9, 9));
  EXPECT_EQ(hosts[2].address, v6);
  for (int i = 0; i < 1100; ++i) model.hosts.Update(1, 0, CIpAddr(11, 0, i / 256, i % 256), 80, {1, 0});
  EXPECT_EQ(model.hosts.Size(), 1000u);
  for (uint16_t port = 1; port <= 150; ++port) model.hosts.Update(1, 0, v6, port, {1, 0});
  EXPECT_EQ(model.hosts.Find(v6)->ports.size(), 100u);
}

TEST_F(TrafficModelTest, AgeingDropsSilentHostsOnlyFromElevenOn) {
  for (int i = 0; i < 11; ++i) model.hosts.Update(1, 0, CIpAddr(10, 0, 0, i), 80, {i < 5 ? 100 : 400, 0});
  EXPECT_EQ(model.hosts.AgeOut(401), 5u);  // silent more than 300 s
  EXPECT_EQ(model.hosts.AgeOut(100000), 0u);  // six hosts left: none ages
  EXPECT_EQ(CHostTable::AgeLimit(31), 180);
  EXPECT_EQ(CHostTable::AgeLimit(61), 120);
}

TEST(GraphSeries, PadsToNowAndScrollsOut) {
  CTrafficSampler sampler;
  sampler.Update(50, 99, {1000, 0});
  sampler.Update(10, 0, {1005, 0});
  const CGraphSeries g = BuildGraphSeries(sampler, 1005 + 15);  // three buckets later
  EXPECT_EQ(g.sent, (std::vector<uint64_t>{50, 10, 0, 0, 0}));
  EXPECT_EQ(g.received, (std::vector<uint64_t>{99, 0, 0, 0, 0}));
  EXPECT_EQ(g.maximum, 100u);
  EXPECT_EQ(g.newestStart, 1020);
  EXPECT_TRUE(BuildGraphSeries(sampler, 1005 + 5 * 40).sent.empty());
}

struct ScaleCase {
  uint64_t maximum;
  uint64_t full;
  std::vector<std::string> labels;
};

class GraphScaleTest : public ::testing::TestWithParam<ScaleCase> {};

TEST(GraphSeries, ByteSizesReadAsPeopleWriteThem) {
  EXPECT_EQ(FormatByteSize(999), "999 B");
  EXPECT_EQ(FormatByteSize(1536 * 1024), "1.5 MB");
  EXPECT_EQ(FormatByteSize(2ull << 30), "2 GB");
  EXPECT_EQ(FormatByteSize(150 * 1024 + 300), "150 KB");
}

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
        ScaleCase{0, 100, {"20 B", "40 B", "60 B", "80 B", "100 B"}},
        ScaleCase{100, 250, {"50 B", "100 B", "150 B", "200 B", "250 B"}},
        ScaleCase{2559, 2560, {"0.5 KB", "1 KB", "1.5 KB", "2 KB", "2.5 KB"}},
        ScaleCase{1048576, 2621440, {"0.5 MB", "1 MB", "1.5 MB", "2 MB", "2.5 MB"}},
        ScaleCase{1048575999, 1048576000, {"200 MB", "400 MB", "600 MB", "800 MB", "1000 MB"}},
        ScaleCase{4294967296ull, 5368709120ull, {"1 GB", "2 GB", "3 GB", "4 GB", "5 GB"}},
        ScaleCase{26843545600ull, 53687091200ull, {"10 GB", "20 GB", "30 GB", "40 GB", "50 GB"}}),
    [](const auto& info) { return "Maximum" + std::to_string(info.param.maximum); });

}  // namespace
