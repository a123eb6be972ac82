// What a session hands out: finished conversations to its consumers, copies
// to the screens, hosts aged and the graph drawn by its own clock.
#include "engine/capture_session.h"

#include <gtest/gtest.h>

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

TEST_F(CaptureSessionTest, LiveTextOnlyWhenPacketsArrived) {
  uint64_t seen = 0;
  std::string text;
  EXPECT_FALSE(t.session.RecentPacketsText(seen, text));
  t.Record(UdpFields(kSent, 5, {1000, 0}), "hello");
  EXPECT_TRUE(t.session.RecentPacketsText(seen, text));
  EXPECT_TRUE(text.ends_with("hello"));
  EXPECT_FALSE(t.session.RecentPacketsText(seen, text));
}

}  // namespace
