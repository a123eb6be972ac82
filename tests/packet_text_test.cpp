#include "output/packet_text.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using namespace std::string_literals;

const std::string kSep(77, '=');
// 2006-12-05 14:03:07 UTC.
constexpr int32_t kStampSeconds = 1165327387;
const CCancelToken kNoCancel;

// The start of the data as a conversation keeps it for its summaries.
CDataStart StartOf(const CPacketRecord& r) {
  CDataStart s;
  s.present = true;
  s.headerOnly = r.headerOnly;
  s.length = static_cast<uint8_t>(std::min<std::size_t>(r.Payload().size(), CDataStart::kBytes));
  std::copy_n(r.Payload().begin(), s.length, s.bytes.begin());
  return s;
}

CPacketFields ReceivedUdp() {
  CPacketFields f;
  f.direction = kReceived;
  f.protocol = 17;
  f.remote = CIpAddr(192, 168, 1, 1);
  f.remotePort = 53;
  f.local = CIpAddr(192, 168, 1, 10);
  f.localPort = 1025;
  f.ttl = 128;
  f.identification = 0x1234;
  f.headerLength = 28;
  f.time = {kStampSeconds, 123};
  return f;
}

CPacketFields SentTcp(uint8_t flags) {
  CPacketFields f = TcpFields(kSent, 4294967295u, 5, {kStampSeconds, 0});
  f.ack = 1;
  f.tcpFlags = flags;
  return f;
}

TEST(PacketText, TcpFlagNamesSetBitsInFixedOrder) {
  const std::pair<uint8_t, const char*> cases[] = {
      {0x00, ""},         {0x10, ""},        {0x20, ""}, {0x12, "SYN"},
      {0x19, "FIN PUSH"}, {0xC0, "CWR ECE"}, {0xFF, "SYN FIN RST PUSH CWR ECE"},
  };
  for (const auto& [flags, names] : cases) EXPECT_EQ(TcpFlagNames(flags), names) << int{flags};
}

class HeaderBlock : public ::testing::Test {
 protected:
  ScopedTimeZone zone_{"UTC"};
};

TEST_F(HeaderBlock, ReceivedUdpReadsFromRemoteToLocal) {
  CPacketRef r = RecordWith(ReceivedUdp(), "hello", 5);
  r->convId = 7;
  EXPECT_EQ(DirectionName(*r), "RECIEVE");
  EXPECT_EQ(PacketSource(*r), "192.168.1.1:53");
  EXPECT_EQ(PacketDestination(*r), "192.168.1.10:1025");
  EXPECT_EQ(RenderHeaderBlock(*r),
            "\r\n\r\n" + kSep +
                "\r\nUDP 192.168.1.1:53 -> 192.168.1.10:1025 \r\n"
                "RECIEVE Len: 33 ConvId: 7 Time: 14:03:07.000123\r\n"
                "TTL: 128 ID: 4660\r\n" +
                kSep + "\r\n\r\n");
}

TEST_F(HeaderBlock, SentTcpHasSeqAckAndFlags) {
  CPacketRef r = RecordWith(SentTcp(0x19), "hello", 5);
  r->convId = 3;
  EXPECT_EQ(DirectionName(*r), "SEND");
  EXPECT_EQ(RenderHeaderBlock(*r),
            "\r\n\r\n" + kSep +
                "\r\nTCP 10.0.0.1:40000 -> 10.0.5.5:80 \r\n"
                "SEND Len: 45 ConvId: 3 Time: 14:03:07.000000\r\n"
                "TTL: 64 ID: 0 Seq: 4294967295 Ack: 1\r\n"
                "Flags: FIN PUSH\r\n" +
                kSep + "\r\n\r\n");
}

TEST_F(HeaderBlock, PureAckUnknownProtocolAndEveryFragmentLabelled) {
  EXPECT_NE(RenderHeaderBlock(*RecordWith(SentTcp(0x10), "x", 1)).find("\r\nFlags: \r\n" + kSep),
            std::string::npos);
  CPacketFields f = ReceivedUdp();
  f.fragment = true;
  EXPECT_NE(RenderHeaderBlock(*RecordWith(f, "x", 1))
                .find("UDP 192.168.1.1:53 -> 192.168.1.10:1025 ** FRAGMENT **\r\nRECIEVE"),
            std::string::npos);
  // The last fragment of an IPv6 datagram: labelled too, its 32-bit
  // identification in full.
  CPacketFields last = f;
  last.fragment = false;
  last.laterFragment = true;
  last.remote = TestV6(1);
  last.local = TestV6(10);
  last.identification = 0xDEADBEEF;
  const std::string lastBlock = RenderHeaderBlock(*RecordWith(last, "x", 1));
  EXPECT_NE(lastBlock.find("UDP [2001:db8::1]:53 -> [2001:db8::a]:1025 ** FRAGMENT **\r\n"),
            std::string::npos);
  EXPECT_NE(lastBlock.find("\r\nTTL: 128 ID: 3735928559\r\n"), std::string::npos);
  f.protocol = 1;
  f.fragment = false;
  const std::string block = RenderHeaderBlock(*RecordWith(f, "x", 1));
  EXPECT_EQ(block.substr(0, 4 + 77 + 2 + 1), "\r\n\r\n" + kSep + "\r\n ");
  EXPECT_EQ(block.find("Seq:"), std::string::npos);
  EXPECT_EQ(block.find("Flags:"), std::string::npos);
}

struct DataCase {
  const char* name;
  std::string payload;
  int claimed;  // payload length the header claims
  bool headerOnly;
  std::string text, hex, summary;
};

class DataRendering : public ::testing::TestWithParam<DataCase> {};

TEST_P(DataRendering, TextHexAndSummary) {
  const DataCase& c = GetParam();
  CPacketRef r = RecordWith(ReceivedUdp(), c.payload, c.claimed, c.headerOnly);
  EXPECT_EQ(RenderDataText(*r, kNoCancel), c.text);
  EXPECT_EQ(RenderHexDump(*r, kNoCancel), c.hex);
  EXPECT_EQ(RenderDataSummary(StartOf(*r)), c.summary);
}

const std::string k16 = "0123456789abcdef";
const std::string k16Line =
    "00000000 30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 0123456789abcdef\r\n";

const DataCase kDataCases[] = {
    {"SixteenBytes", k16, 16, false, k16, k16Line + "\r\n", k16},
    {"TwentyBytes", "ABCDEFGHIJKLMNOPQRST", 20, false, "ABCDEFGHIJKLMNOPQRST",
     "00000000 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50 ABCDEFGHIJKLMNOP\r\n"
     "00000010 51 52 53 54 " + std::string(36, ' ') + "QRST\r\n\r\n",
     "ABCDEFGHIJKLMNOPQRST"},
    {"NothingKeptOfTen", "", 10, false, "\r\n\r\nAdditional Bytes Not Shown: 10\r\n",
     "Additional Bytes Not Shown: 10\r\n\r\n", ""},
    {"CapturedShort", "abcd", 10, false, "abcd\r\n\r\nAdditional Bytes Not Shown: 6\r\n",
     "00000000 61 62 63 64 " + std::string(36, ' ') +
         "abcd\r\nAdditional Bytes Not Shown: 6\r\n\r\n",
     "abcd"},
    {"HeaderOnly", "", 1460, true, "\r\nHeader Only - 1460 bytes of data not shown\r\n",
     "\r\nHeader Only - 1460 bytes of data not shown\r\n", "(Header Only)"},
    {"FtpUser", "USER anonymous\r\nPASS x", 22, false, "USER anonymous\r\nPASS x",
     "00000000 55 53 45 52 20 61 6e 6f 6e 79 6d 6f 75 73 0d 0a USER anonymous  \r\n"
     "00000010 50 41 53 53 20 78 " + std::string(30, ' ') + "PASS x\r\n\r\n",
     "USER anonymous"},
    {"NulStopsSummary", "ab\0cd"s, 5, false, "ab.cd",
     "00000000 61 62 00 63 64 " + std::string(33, ' ') + "ab cd\r\n\r\n", "ab"},
    // Every control byte but NUL, CR and LF, then DEL and two high bytes:
    // none may reach a terminal raw; TAB stays in the data text.
    {"EveryControlByte",
     "\x01\x02\x03\x04\x05\x06\x07\x08\t\x0b\x0c\x0e\x0f\x10\x11\x12"
     "\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x7f\x80\xff",
     32, false, "........\t" + std::string(21, '.') + "\x80\xff",
     "00000000 01 02 03 04 05 06 07 08 09 0b 0c 0e 0f 10 11 12 " + std::string(16, ' ') + "\r\n" +
         "00000010 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f 7f 80 ff " + std::string(14, ' ') +
         "\x80\xff\r\n\r\n",
     "........\t" + std::string(21, '.') + "\x80\xff"},
    {"LineEndsKeptInText", "a\rb\nc", 5, false, "a\rb\nc",
     "00000000 61 0d 62 0a 63 " + std::string(33, ' ') + "a b c\r\n\r\n", "a"},
};

INSTANTIATE_TEST_SUITE_P(Cases, DataRendering, ::testing::ValuesIn(kDataCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PacketText, SummaryStopsAtEightyBytes) {
  const std::string payload = std::string(79, 'a') + "bc";
  EXPECT_EQ(RenderDataSummary(StartOf(*RecordWith(ReceivedUdp(), payload, 81))),
            std::string(79, 'a') + "b");
  EXPECT_EQ(RenderDataSummary(CDataStart{}), "");
}

TEST(PacketText, FullHexLinesAreSeventyFiveCharacters) {
  std::string payload;
  for (int i = 0; i < 256; ++i) payload += static_cast<char>(i);
  const std::string dump = RenderHexDump(*RecordWith(ReceivedUdp(), payload, 256), kNoCancel);
  ASSERT_EQ(dump.size(), 16 * 75 + 2u);
  for (std::size_t line = 0; line < 16; ++line) {
    EXPECT_EQ(dump.substr(line * 75 + 73, 2), "\r\n") << line;
  }
  EXPECT_EQ(dump.substr(15 * 75, 9), "000000f0 ");
}

TEST(PacketText, CancelCutsLongRenderingsShort) {
  CCancelToken cancel;
  cancel.Cancel();
  CPacketRef r = RecordWith(ReceivedUdp(), std::string(5000, 'z'), 5000);
  EXPECT_LT(RenderDataText(*r, cancel).size(), 5000u);
  EXPECT_TRUE(RenderHexDump(*r, cancel).empty());
}

}  // namespace
