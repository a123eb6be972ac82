#include "model/conversation_table.h"

#include <gtest/gtest.h>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "tests/model_test_support.h"

namespace {

class ConversationTableTest : public ::testing::Test {
 protected:
  CAppState state;
  CTrafficModel& model = state.Model();
  CConversationTable& table = model.conversations;

  CPacketRef Add(const CPacketFields& f) {
    auto payload = Bytes(static_cast<std::size_t>(f.totalLength - f.headerLength));
    return model.Record(f, payload);
  }
  const CConversation& Conv(std::size_t i) { return *table.Conversations().at(i); }
};

TEST_F(ConversationTableTest, ClientRequestResponseThenNewRequest) {
  Add(TcpFields(kDirSent, 100, 10, {10, 0}));
  Add(TcpFields(kDirSent, 110, 10, {10, 200000}));
  Add(TcpFields(kDirReceived, 500, 20, {10, 500000}));
  Add(TcpFields(kDirReceived, 520, 20, {10, 700000}));
  Add(TcpFields(kDirReceived, 540, 20, {10, 900000}));
  Add(TcpFields(kDirSent, 120, 10, {11, 0}));

  ASSERT_EQ(table.Size(), 2u);
  const CConversation& first = Conv(0);
  EXPECT_EQ(first.convId, 1);
  EXPECT_EQ(first.closed, 1);
  EXPECT_EQ(first.packetsSent, 2u);
  EXPECT_EQ(first.packetsReceived, 3u);
  EXPECT_EQ(first.bytesSent, 100u);
  EXPECT_EQ(first.bytesReceived, 180u);
  EXPECT_EQ(first.times[0], (CTimeStamp{10, 0}));
  EXPECT_EQ(first.times[1], (CTimeStamp{10, 200000}));
  EXPECT_EQ(first.times[2], (CTimeStamp{10, 500000}));
  EXPECT_EQ(first.times[3], (CTimeStamp{10, 900000}));
  EXPECT_EQ(first.ResponseMicros(), 900000);
  EXPECT_EQ(Conv(1).convId, 2);
  EXPECT_EQ(Conv(1).closed, 0);
  for (const auto& r : first.sent) EXPECT_EQ(r->convId, 1);
}

TEST_F(ConversationTableTest, ServerRoleCutsOnTheNextRequest) {
  state.hostRole = kRoleServer;
  Add(TcpFields(kDirReceived, 1, 10, {5, 0}));
  Add(TcpFields(kDirSent, 9, 10, {5, 100}));
  Add(TcpFields(kDirReceived, 11, 10, {6, 0}));
  ASSERT_EQ(table.Size(), 2u);
  EXPECT_EQ(Conv(0).closed, 1);
  EXPECT_EQ(Conv(0).hostRole, kRoleServer);
  EXPECT_EQ(Conv(1).packetsReceived, 1u);
}

TEST_F(ConversationTableTest, ClientWithOnlyReceivedPacketsKeepsOneConversation) {
  for (uint32_t i = 0; i < 50; ++i) Add(TcpFields(kDirReceived, i * 10, 10));
  ASSERT_EQ(table.Size(), 1u);
  EXPECT_EQ(Conv(0).packetsReceived, 50u);
}

TEST_F(ConversationTableTest, TimesWhenTheOpeningDirectionIsReceived) {
  state.hostRole = kRoleServer;
  Add(TcpFields(kDirReceived, 1, 10, {5, 0}));
  Add(TcpFields(kDirReceived, 11, 10, {5, 100000}));
  Add(TcpFields(kDirSent, 1, 10, {5, 400000}));
  const CConversation& c = Conv(0);
  EXPECT_EQ(c.times[0], (CTimeStamp{5, 0}));
  EXPECT_EQ(c.times[1], (CTimeStamp{5, 100000}));
  EXPECT_EQ(c.times[2], (CTimeStamp{5, 400000}));
  EXPECT_EQ(c.times[3], (CTimeStamp{5, 400000}));
}

TEST_F(ConversationTableTest, SinglePacketHasZeroResponseTime) {
  Add(UdpFields(kDirSent, 5, {7, 123}));
  EXPECT_EQ(Conv(0).ResponseMicros(), 0);
}

TEST_F(ConversationTableTest, KeepsAtMost300RecordsPerDirectionButCountsAll) {
  for (uint32_t i = 0; i < 301; ++i) Add(TcpFields(kDirSent, i, 1));
  const CConversation& c = Conv(0);
  EXPECT_EQ(c.sent.size(), 300u);
  EXPECT_EQ(c.packetsSent, 301u);
  EXPECT_EQ(c.bytesSent, 301u * 41u);
}

TEST_F(ConversationTableTest, OrdersBySignedSequenceAndPutsRetransmissionsFirst) {
  Add(TcpFields(kDirSent, 0x7FFFFFF0u, 1));
  Add(TcpFields(kDirSent, 0x80000010u, 1));  // wrapped past 2^31: later
  Add(TcpFields(kDirSent, 100, 1));
  auto dup = Add(TcpFields(kDirSent, 100, 1));
  const auto& sent = Conv(0).sent;
  ASSERT_EQ(sent.size(), 4u);
  // Signed 32-bit order: 0x80000010 is negative, so it sorts first.
  EXPECT_EQ(sent[0]->seq, 0x80000010u);
  EXPECT_EQ(sent[1].get(), dup.get());
  EXPECT_EQ(sent[2]->seq, 100u);
  EXPECT_EQ(sent[3]->seq, 0x7FFFFFF0u);
}

TEST_F(ConversationTableTest, UdpRecordsGoToTheFront) {
  auto a = Add(UdpFields(kDirSent, 1));
  auto b = Add(UdpFields(kDirSent, 2));
  EXPECT_EQ(Conv(0).sent[0].get(), b.get());
  EXPECT_EQ(Conv(0).sent[1].get(), a.get());
}

TEST_F(ConversationTableTest, Trims2001ConversationsTo1600AndContinuesIds) {
  for (int i = 0; i < 2001; ++i) {
    Add(TcpFields(kDirSent, 1, 1, {1000, 0}, CIpAddr(10, 1, i / 256, i % 256)));
  }
  ASSERT_EQ(table.Size(), 1600u);
  EXPECT_EQ(Conv(0).convId, 402);
  EXPECT_EQ(table.FindById(401), nullptr);
  EXPECT_EQ(table.FindById(402), &Conv(0));
  Add(TcpFields(kDirSent, 1, 1, {1000, 0}, CIpAddr(10, 9, 9, 9)));
  EXPECT_EQ(table.Conversations().back()->convId, 2002);
  // A trimmed conversation's endpoints start afresh.
  Add(TcpFields(kDirSent, 2, 1, {1000, 0}, CIpAddr(10, 1, 0, 0)));
  EXPECT_EQ(table.Conversations().back()->convId, 2003);
}

TEST_F(ConversationTableTest, ClearKeepsIdsAndPendingFragments) {
  Add(TcpFields(kDirSent, 1, 1));
  Add(FragmentFields(kDirReceived, 77));
  table.Clear();
  EXPECT_EQ(table.Size(), 0u);
  EXPECT_EQ(table.PendingFragments().size(), 1u);
  auto f = TcpFields(kDirReceived, 5, 10);
  f.identification = 77;
  Add(f);
  ASSERT_EQ(table.Size(), 1u);
  EXPECT_EQ(Conv(0).convId, 2);
  EXPECT_EQ(Conv(0).received.size(), 2u);
  EXPECT_TRUE(table.PendingFragments().empty());
}

TEST_F(ConversationTableTest, PendingFragmentsAttachWhenTheirPacketArrives) {
  auto f1 = Add(FragmentFields(kDirReceived, 9));
  Add(FragmentFields(kDirReceived, 9));
  Add(FragmentFields(kDirReceived, 9));
  Add(FragmentFields(kDirReceived, 10));
  EXPECT_EQ(table.Size(), 0u);
  auto first = TcpFields(kDirReceived, 1, 10);
  first.identification = 9;
  Add(first);
  ASSERT_EQ(table.Size(), 1u);
  EXPECT_EQ(Conv(0).received.size(), 4u);
  EXPECT_EQ(f1->remotePort, 80);
  EXPECT_EQ(f1->localPort, 40000);
  EXPECT_EQ(f1->convId, 1);
  ASSERT_EQ(table.PendingFragments().size(), 1u);
  EXPECT_EQ(table.PendingFragments()[0]->identification, 10);
}

TEST_F(ConversationTableTest, LaterFragmentFindsItsConversationByIdentification) {
  auto first = TcpFields(kDirReceived, 1, 10);
  first.identification = 33;
  Add(first);
  auto frag = Add(FragmentFields(kDirReceived, 33));
  EXPECT_EQ(Conv(0).received.size(), 2u);
  EXPECT_EQ(frag->remotePort, 80);
  EXPECT_TRUE(table.PendingFragments().empty());
}

TEST_F(ConversationTableTest, FragmentOfAnotherHostDoesNotJoinOnAnEqualId) {
  auto other = FragmentFields(kDirReceived, 5);
  other.remote = CIpAddr(192, 0, 2, 99);
  Add(other);
  auto first = TcpFields(kDirReceived, 1, 10);
  first.identification = 5;
  Add(first);
  EXPECT_EQ(Conv(0).received.size(), 1u);
  EXPECT_EQ(Conv(0).remote, CIpAddr(10, 0, 5, 5));
  EXPECT_EQ(table.PendingFragments().size(), 1u);
}

TEST_F(ConversationTableTest, ThirteenthPendingFragmentTrimsToTen) {
  for (uint16_t i = 1; i <= 13; ++i) Add(FragmentFields(kDirReceived, i));
  const auto& pending = table.PendingFragments();
  ASSERT_EQ(pending.size(), 10u);
  EXPECT_EQ(pending.front()->identification, 4);
  EXPECT_EQ(pending.back()->identification, 13);
}

TEST_F(ConversationTableTest, DifferentPortsOrProtocolsAreDifferentConversations) {
  Add(TcpFields(kDirSent, 1, 1, {1, 0}, CIpAddr(10, 0, 5, 5), 80, 40000));
  Add(TcpFields(kDirSent, 1, 1, {1, 0}, CIpAddr(10, 0, 5, 5), 80, 40001));
  Add(TcpFields(kDirSent, 1, 1, {1, 0}, CIpAddr(10, 0, 5, 5), 443, 40000));
  auto u = UdpFields(kDirSent, 1);
  u.remotePort = 80;
  u.localPort = 40000;
  Add(u);
  EXPECT_EQ(table.Size(), 4u);
}

TEST_F(ConversationTableTest, QuitFlagStopsFilingFragmentsMidSearch) {
  Add(TcpFields(kDirSent, 1, 1));
  state.quit = 1;
  Add(FragmentFields(kDirReceived, 1234));
  EXPECT_TRUE(table.PendingFragments().empty());
}

}  // namespace
