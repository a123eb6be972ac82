// What a session hands out: finished conversations to its consumers, copies
// to the screens, hosts aged and the graph drawn by its own clock.
#include "engine/capture_session.h"

#include <gtest/gtest.h>

#include "engine/capture_file_replay.h"
#include "engine/interface_record.h"
#include "output/conversation_text.h"
#include "tests/test_support.h"

namespace {

class CaptureSessionTest : public ::testing::Test {
 protected:
  CaptureSessionTest() {
    t.session.AddFinalConsumer([this](const CConversationSnapshot& s) { finals.push_back(s.convId); });
    t.session.SetRecordTap([this](const CPacketRecord&) { ++tapped; });
  }

  CTestSession t;
  std::vector<int> finals;
  int tapped = 0;
};

TEST_F(CaptureSessionTest, ConsumersHearOfEachConversationOnceAndTheTapOfEachPacket) {
  t.Record(TcpFields(kSent, 1, 4, {1000, 0}));
  t.Record(TcpFields(kReceived, 1, 4, {1000, 1}));
  t.Record(TcpFields(kSent, 5, 4, {1001, 0}));  // the next exchange closes the first
  t.Record(UdpFields(kSent, 4, {1001, 0}));
  EXPECT_EQ(finals, (std::vector<int>{1}));
  t.session.Finish();
  t.session.ClearConversations();
  EXPECT_EQ(finals, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(tapped, 4);
}

TEST_F(CaptureSessionTest, RowsAndCopiesNameConversationsThatStillExist) {
  t.Record(TcpFields(kSent, 1, 4, {1000, 0}), "ping");
  t.Record(TcpFields(kReceived, 1, 4, {1000, 9}), "pong");
  const auto rows = t.session.ConversationRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].row, (CExportRow{1, kReceived}));
  EXPECT_EQ(rows[1].conversation.packetsReceived, 1u);
  const auto copies = t.session.CopyRows({rows[1].row, {7, kSent}});
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(std::string(copies[0].records.at(0)->Payload().begin(), copies[0].records[0]->Payload().end()), "pong");
  t.session.ClearConversations();
  EXPECT_TRUE(t.session.CopyRows({rows[0].row}).empty());
  EXPECT_EQ(copies[0].records[0]->PayloadLength(), 4);  // the copy keeps its records
}

TEST_F(CaptureSessionTest, HostsAgeAndTheGraphEndByTheSessionClock) {
  for (int i = 0; i < 11; ++i) t.Record(UdpFields(kSent, 4, {1000 + i, 0}, CIpAddr(10, 0, 9, i)));
  // The capture clock stays at the last frame: an old file keeps its hosts.
  EXPECT_EQ(t.session.Hosts(true).hosts.size(), 11u);
  EXPECT_FALSE(t.session.Graph().sent.empty());
  t.session.Clock().Advance(1010 + 300);  // the newest host is 300 s silent
  EXPECT_EQ(t.session.Hosts(true).hosts.size(), 1u);
  EXPECT_TRUE(t.session.Graph().sent.empty());
  const uint64_t generation = t.session.ClearHosts();
  EXPECT_EQ(t.session.Hosts(false).generation, generation);
  EXPECT_TRUE(t.session.Hosts(false).hosts.empty());
}

TEST_F(CaptureSessionTest, ARangeCountsThePacketsOfItsBucketsAndAConversationThatOverlapsIt) {
  // Host .1 on both sides of the edge at 1000 s (bucket 200), host .2 in
  // bucket 201's last microsecond.
  t.Record(UdpFields(kSent, 4, {999, 999999}, CIpAddr(10, 0, 9, 1)));
  t.Record(UdpFields(kSent, 4, {1000, 0}, CIpAddr(10, 0, 9, 1)));
  t.Record(UdpFields(kReceived, 4, {1009, 999999}, CIpAddr(10, 0, 9, 2)));
  const struct {
    CTimeRange range;
    std::vector<uint64_t> packets;  // per host shown, address order
    bool overlaps;  // a conversation from 995 s to 999.999999 s
  } cases[] = {
      {{199, 200}, {1}, true},     {{200, 201}, {1}, false}, {{200, 202}, {1, 1}, false},
      {{201, 202}, {1}, false},    {{202, 240}, {}, false},  {{150, 199}, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range.fromBucket);
    std::vector<uint64_t> packets;
    for (const CHostSummary& h : t.session.Hosts(false, c.range).hosts) {
      packets.push_back(h.packetsSent + h.packetsReceived);
    }
    EXPECT_EQ(packets, c.packets);
    EXPECT_EQ(c.range.Overlaps({995, 0}, {999, 999999}), c.overlaps);
  }
  EXPECT_EQ(t.session.Hosts(false).hosts.at(0).packetsSent, 2u);
}

TEST_F(CaptureSessionTest, LiveTextOnlyWhenPacketsArrived) {
  uint64_t seen = 0;
  std::string text;
  EXPECT_FALSE(t.session.RecentPacketsText(seen, text));
  t.Record(UdpFields(kSent, 5, {1000, 0}), "hello");
  EXPECT_TRUE(t.session.RecentPacketsText(seen, text));
  EXPECT_TRUE(text.ends_with("hello"));
  EXPECT_FALSE(t.session.RecentPacketsText(seen, text));
}

TEST(CaptureSessionBudget, ReplayOfLargeSegmentsStaysWithinTheLimitAndShowSaysWhatWasReleased) {
  // Eight connections of ten 64,000-byte segments each, as loopback and GRO
  // deliver them: 5.1 MB of payload against a 1 MiB limit.
  constexpr std::size_t kLimit = 1u << 20;
  constexpr int kSegment = 64000;
  std::vector<CFrame> frames;
  for (int conn = 0; conn < 8; ++conn) {
    for (uint32_t i = 0; i < 10; ++i) {
      CTestPacket p;
      p.sourcePort = static_cast<uint16_t>(40000 + conn);
      p.seq = 1 + i * kSegment;
      p.payload = kSegment;
      frames.push_back({1000 + conn, Ipv4Packet(p)});
    }
  }
  TempDir dir;
  const std::string file = dir.File("bulk.pcap");
  ASSERT_TRUE(WritePcap(file, DLT_RAW, frames));
  CTestSession t;
  t.switches.SetPayloadLimit(kLimit);
  CInterfaceRecord local;
  local.AddAddress(10, 0, 0, 1);
  ASSERT_EQ(ReplayCaptureFile(t.session, file, local).framesRecorded, 80u);

  const CPayloadStats stats = t.session.PayloadStats();
  EXPECT_LE(stats.held, kLimit);
  EXPECT_GT(stats.held, kLimit - kSegment);
  EXPECT_EQ(stats.held + stats.released, 80u * kSegment);
  EXPECT_EQ(stats.notStored, 0u);

  const std::vector<CConversationRowData> rows = t.session.ConversationRows();
  ASSERT_EQ(rows.size(), 8u);
  const CCancelToken never;
  const std::string note = "(data released to stay within the memory limit)";
  for (bool hex : {false, true}) {
    const auto copies = t.session.CopyRows({rows.front().row, rows.back().row});
    const std::string oldest = RenderConversationText(copies[0].records, {true, true, hex}, never);
    const std::string newest = RenderConversationText(copies[1].records, {true, true, hex}, never);
    EXPECT_NE(oldest.find(note), std::string::npos);
    EXPECT_EQ(oldest.find("Additional Bytes"), std::string::npos);
    EXPECT_EQ(newest.find(note), std::string::npos);
  }
  // The summaries were taken when the records were kept.
  const CDataStart& start = rows.front().conversation.sentStart;
  const auto payload = frames[0].bytes.end() - kSegment;
  EXPECT_EQ(std::string(start.Bytes().begin(), start.Bytes().end()), std::string(payload, payload + 80));
}

}  // namespace
