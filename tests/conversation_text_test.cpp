#include "output/conversation_text.h"

#include <gtest/gtest.h>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output/packet_text.h"
#include "output_test_support.h"

namespace {

class ConversationText : public ::testing::Test {
 protected:
  CConversation& Only() { return *model_.conversations.Conversations().front(); }

  CPacketRef Add(int direction, uint32_t seq, std::string_view payload) {
    CPacketFields f = TcpFields(direction, seq, static_cast<int>(payload.size()),
                                {kStampSeconds, static_cast<int32_t>(seq % 1000000)});
    return model_.Record(f, AsBytes(payload));
  }

  static std::string Piece(const CPacketRef& r, bool headers, bool data, bool hex) {
    std::string s;
    if (headers) s += RenderHeaderBlock(*r);
    if (data) s += hex ? RenderHexDump(*r, kNoQuit) : RenderDataText(*r, kNoQuit);
    return s;
  }

  ScopedTimeZone zone_{"UTC"};
  CAppState state_;
  CTrafficModel& model_ = state_.Model();
};

TEST_F(ConversationText, JoinsPacketsOfOneDirectionInListOrder) {
  CPacketRef a = Add(kDirSent, 100, "GET / HTTP/1.0\r\n\r\n");
  CPacketRef b = Add(kDirSent, 118, "more");
  CPacketRef c = Add(kDirReceived, 5, "HTTP/1.0 200 OK\r\n");
  ASSERT_EQ(model_.conversations.Size(), 1u);
  const CConversation& conv = Only();

  struct Case {
    int direction, headers, data, hex;
    std::string expected;
  };
  const Case cases[] = {
      {kDirSent, 1, 1, 0, Piece(a, true, true, false) + Piece(b, true, true, false)},
      {kDirSent, 1, 0, 0, Piece(a, true, false, false) + Piece(b, true, false, false)},
      {kDirSent, 0, 1, 1, Piece(a, false, true, true) + Piece(b, false, true, true)},
      {kDirReceived, 1, 1, 1, Piece(c, true, true, true)},
      {0, 1, 1, 0, ""},
      {3, 1, 1, 0, ""},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(RenderConversationText(conv, k.direction, k.headers, k.data, k.hex, kNoQuit),
              k.expected)
        << k.direction << k.headers << k.data << k.hex;
  }
  EXPECT_EQ(RenderConversationSummary(conv, kDirSent, kNoQuit), "GET / HTTP/1.0");
  EXPECT_EQ(RenderConversationSummary(conv, kDirReceived, kNoQuit), "HTTP/1.0 200 OK");
  EXPECT_EQ(RenderConversationSummary(conv, 0, kNoQuit), "");
}

TEST_F(ConversationText, StopsAfterThePacketThatPassesTwoMillion) {
  const std::string payload(60000, 'p');
  std::vector<CPacketRef> records;
  for (uint32_t i = 0; i < 40; ++i) records.push_back(Add(kDirSent, 1 + i * 60000, payload));
  std::string expected;
  std::size_t used = 0;
  while (expected.size() <= kConversationTextLimit) {
    expected += Piece(records[used++], true, true, false);
  }
  ASSERT_LT(used, records.size());
  expected += "\r\n(more data not shown)\r\n";
  EXPECT_EQ(RenderConversationText(Only(), kDirSent, 1, 1, 0, kNoQuit), expected);
}

TEST_F(ConversationText, EmptyDirectionAndQuitFlagGiveNothing) {
  Add(kDirSent, 1, "one");
  Add(kDirSent, 4, "two");
  EXPECT_EQ(RenderConversationSummary(Only(), kDirReceived, kNoQuit), "");
  const std::atomic<int> quit{1};
  EXPECT_EQ(RenderConversationText(Only(), kDirSent, 1, 1, 0, quit), "");
}

TEST_F(ConversationText, RecentPacketsKeepTheNewestFiftyOneOfNinetyTwentyThousandCharRecords) {
  const CPacketFields f = UdpFields(kDirReceived, 1, {kStampSeconds, 0});
  // Any five-digit length gives a header block of the same size.
  const std::size_t header = RenderHeaderBlock(*RecordWith(f, "", 19700)).size();
  std::deque<CPacketRef> recent;
  for (int i = 0; i < 90; ++i) {
    recent.push_back(RecordWith(f, std::string(20000 - header, static_cast<char>('A' + i % 26))));
  }
  std::string expected;
  for (std::size_t i = 90 - 51; i < 90; ++i) {
    const std::string piece = RenderHeaderBlock(*recent[i]) + RenderDataText(*recent[i], kNoQuit);
    ASSERT_EQ(piece.size(), 20000u);
    expected += piece;
  }
  const std::string text = RenderRecentPackets(recent, kNoQuit);
  EXPECT_EQ(text.size(), 51u * 20000u);
  EXPECT_TRUE(text == expected);
}

TEST_F(ConversationText, ShortRecentListIsOldestFirst) {
  std::deque<CPacketRef> recent;
  recent.push_back(RecordWith(UdpFields(kDirSent, 3), "old"));
  recent.push_back(RecordWith(UdpFields(kDirReceived, 3), "new"));
  EXPECT_EQ(RenderRecentPackets(recent, kNoQuit),
            RenderHeaderBlock(*recent[0]) + "old" + RenderHeaderBlock(*recent[1]) + "new");
  EXPECT_EQ(RenderRecentPackets({}, kNoQuit), "");
  const std::atomic<int> quit{1};
  EXPECT_EQ(RenderRecentPackets(recent, quit), "");
}

}  // namespace
