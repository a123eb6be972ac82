// Sessions replacing each other: every replay is a session of its own, a
// live trace after a replay starts another, and each ends with its
// conversations final and its logs written.
#include "engine/traffic_engine.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

class TrafficEngineTest : public ::testing::Test {
 protected:
  TrafficEngineTest() {
    std::vector<CFrame> frames;
    for (int i = 0; i < 3; ++i) {
      CTestPacket p;
      p.destinationPort = static_cast<uint16_t>(80 + i);
      frames.push_back({1165327387 + i, EthernetFrame(Ipv4Packet(p))});
    }
    WritePcap(file, DLT_EN10MB, frames);
    engine.SetLogOptions({true, true, false, false, dir.Path()});
  }

  ScopedTimeZone zone{"UTC"};
  TempDir dir;
  const std::string file = dir.File("in.pcap");
  CTrafficEngine engine;
};

TEST_F(TrafficEngineTest, EveryReplayIsASessionOfItsOwn) {
  const int first = engine.Session()->Id();
  EXPECT_FALSE(engine.ShowsReplay());
  for (int round = 0; round < 2; ++round) {
    const CReplayResult r = engine.Replay(file, {CIpAddr(10, 0, 0, 1)}, nullptr);
    ASSERT_TRUE(r.Ok()) << r.error;
    EXPECT_TRUE(engine.ShowsReplay());
    EXPECT_EQ(engine.Session()->Source().file, file);
    const auto rows = engine.Session()->ConversationRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].row.convId, 1);  // numbered afresh
  }
  EXPECT_EQ(engine.Session()->Id(), first + 2);
  // Each replay wrote its own statistics log, stamped by its capture clock,
  // with its three conversations written when the file ended.
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.pcap", "stats061205_140309-2.txt",
                                                   "stats061205_140309.txt"}));
  const std::string log = ReadFileBytes(dir.File("stats061205_140309.txt"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4);
}

TEST_F(TrafficEngineTest, ALiveTraceAfterAReplayStartsANewSession) {
  engine.Replay(file, {CIpAddr(10, 0, 0, 1)}, nullptr);
  auto device = std::make_unique<CInterfaceRecord>();
  device->deviceName = "trafalyn-none0";  // fails to open: the session is what counts
  const int index = engine.AddInterface(std::move(device));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(engine.StartLive(index));
  EXPECT_FALSE(engine.ShowsReplay());
  EXPECT_FALSE(engine.Session()->HoldsData());
  engine.StopLive();
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(engine.StartLive(index + 1));  // no such interface
}

TEST_F(TrafficEngineTest, SwitchingLoggingOffWritesWhatIsOpen) {
  const std::shared_ptr<CCaptureSession> live = engine.Session();
  live->Record(TcpFields(kSent, 1, 4, {1165327387, 0}), AsBytes("open"));
  CLogOptions off = engine.LogOptions();
  off.enabled = false;
  engine.SetLogOptions(off);
  ASSERT_EQ(dir.Names().size(), 2u);
  EXPECT_NE(ReadFileBytes(dir.File(dir.Names()[1])).find("\"open\""), std::string::npos);
}

}  // namespace

// Each exchange reaches the services once, when the replay ends; rule counts
// and services start anew with every trace.
TEST_F(TrafficEngineTest, ServicesAndRuleCountsCoverEachTraceOnce) {
  CFilterRuleList rules;
  rules.Append(CFilterRule(0, 0, 0, 0, 80));
  rules.Append(CFilterRule(0, 0, 0, 0, 99));
  engine.Filters().Replace(std::move(rules));
  engine.Services().SetEnabled(true);
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(engine.Replay(file, {CIpAddr(10, 0, 0, 1)}, nullptr).Ok());
    const auto services = engine.Services().Rows();
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].key.address, CIpAddr(10, 0, 5, 5));
    EXPECT_EQ(services[0].key.port, 80);
    EXPECT_EQ(services[0].exchanges, 1u);
    EXPECT_EQ(services[0].unanswered, 1u);
    EXPECT_EQ(engine.Filters().Report().hits, (std::vector<CRuleHits>{{1, 50}, {0, 0}}));
  }
}
