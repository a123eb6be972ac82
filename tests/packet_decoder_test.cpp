#include "engine/packet_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/interface_record.h"
#include "filters/filter_rule.h"
#include "filters/filter_rule_list.h"
#include "tests/test_support.h"

namespace {

class DecoderTest : public ::testing::Test {
 protected:
  DecoderTest() {
    local.AddAddress(10, 0, 0, 1);
    local.addresses.push_back(TestV6(1));
  }

  EDecodeResult Feed(const std::vector<uint8_t>& ip, CTimeStamp t = {1000, 0}) {
    return decoder.Decode(ip, t);
  }

  // The newest recorded packet, as the live view sees it.
  std::vector<CPacketRef> Recent() const {
    return t.session.WithModel([](const CTrafficModel& m) {
      return std::vector<CPacketRef>(m.recent.begin(), m.recent.end());
    });
  }

  void ExpectUntouched() {
    EXPECT_FALSE(t.session.HoldsData());
    EXPECT_TRUE(t.session.Hosts(false).hosts.empty());
  }

  void SetOptions(bool tcp, bool udp, bool headerOnly = false) {
    t.switches.Set({tcp, udp, headerOnly, EHostRole::kClient});
  }

  CTestSession t;
  CInterfaceRecord local;
  CPacketDecoder decoder{t.session, local};
};

struct DecoderTestAccess {
  CCaptureSwitches& switches;
  CActiveFilterRules& filters;
  CInterfaceRecord& local;
};

struct DecodeCase {
  const char* name;
  CTestPacket packet;
  EDecodeResult result;
  // For recorded packets:
  EDirection direction = EDirection::kNone;
  uint16_t localPort = 0;
  uint16_t remotePort = 0;
  int headerLength = 0;
  std::size_t payloadKept = 0;
  std::function<void(DecoderTestAccess&)> setup = nullptr;
};

CTestPacket Tcp(int payload) {
  CTestPacket p;
  p.payload = payload;
  return p;
}

CTestPacket Udp(int payload) {
  CTestPacket p = Tcp(payload);
  p.protocol = 17;
  p.sourcePort = 5353;
  p.destinationPort = 53;
  return p;
}

std::function<void(DecoderTestAccess&)> Exclude(CFilterRule rule) {
  return [rule](DecoderTestAccess& a) {
    CFilterRuleList rules;
    rules.SetMode(CFilterRuleList::kExclude);
    rules.Append(rule);
    a.filters.Replace(rules);
  };
}

std::function<void(DecoderTestAccess&)> Switches(bool tcp, bool udp) {
  return [tcp, udp](DecoderTestAccess& a) { a.switches.Set({tcp, udp, false, EHostRole::kClient}); };
}

std::function<void(DecoderTestAccess&)> SecondAddress() {
  return [](DecoderTestAccess& a) { a.local.AddAddress(10, 0, 0, 2); };
}

template <typename F>
CTestPacket With(CTestPacket p, F change) {
  change(p);
  return p;
}

// From the local host's IPv6 address to 2001:db8::505.
CTestPacket Six(CTestPacket p, std::vector<uint8_t> extensions = {}, uint16_t flagsOffset = 0) {
  p.source = TestV6(1);
  p.destination = TestV6(0x505);
  p.extensions = std::move(extensions);
  p.flagsOffset = flagsOffset;
  return p;
}

constexpr uint16_t kMoreFragments = 0x2000;
constexpr uint16_t kOffset185 = 185;  // 1480 bytes in

const DecodeCase kCases[] = {
    {"TcpWithoutPayload", Tcp(0), EDecodeResult::kNoPayload},
    {"TcpOnePayloadByte", Tcp(1), EDecodeResult::kRecorded, kSent, 40000, 80, 40, 1},
    {"TcpSwitchOff", Tcp(10), EDecodeResult::kSwitchedOff, {}, 0, 0, 0, 0, Switches(false, true)},
    {"UdpSwitchOff", Udp(10), EDecodeResult::kSwitchedOff, {}, 0, 0, 0, 0, Switches(true, false)},
    {"UdpRecordedWhileTcpOff", Udp(10), EDecodeResult::kRecorded, kSent, 5353, 53, 28, 10,
     Switches(false, true)},
    {"IcmpEchoFromLocalHost", With(Tcp(10), [](CTestPacket& p) { p.protocol = 1; }),
     EDecodeResult::kProtocol},
    {"BetweenTwoOtherHosts",
     With(Tcp(10), [](CTestPacket& p) { p.source = CIpAddr(10, 0, 5, 6); }),
     EDecodeResult::kNotLocal},
    {"ReceivedSwapsRoles",
     With(Tcp(10), [](CTestPacket& p) { std::swap(p.source, p.destination); }),
     EDecodeResult::kRecorded, kReceived, 80, 40000, 40, 10},
    {"LoopbackSourceCountsAsSent",
     With(Tcp(10), [](CTestPacket& p) { p.source = kLoopbackAddr; }), EDecodeResult::kRecorded,
     kSent, 40000, 80, 40, 10},
    {"LoopbackDestinationCountsAsReceived",
     With(Tcp(10), [](CTestPacket& p) { p.source = CIpAddr(10, 9, 9, 9); p.destination = kLoopbackAddr; }),
     EDecodeResult::kRecorded, kReceived, 80, 40000, 40, 10},
    {"BothLocalTheHigherPortIsTheClientsEnd",
     With(Tcp(10), [](CTestPacket& p) {
       p.sourcePort = 80;
       p.destination = CIpAddr(10, 0, 0, 2);
       p.destinationPort = 40000;
     }),
     EDecodeResult::kRecorded, kReceived, 40000, 80, 40, 10, SecondAddress()},
    {"IpOptionsMovePortsAndPayload", With(Tcp(7), [](CTestPacket& p) { p.optionWords = 1; }),
     EDecodeResult::kRecorded, kSent, 40000, 80, 44, 7},
    {"TcpOptionsMovePayload", With(Tcp(7), [](CTestPacket& p) { p.tcpOptionWords = 3; }),
     EDecodeResult::kRecorded, kSent, 40000, 80, 52, 7},
    // Fragments: a first one carries its transport header, a later one none.
    {"TcpFirstFragmentReadsItsPorts",
     With(Tcp(100), [](CTestPacket& p) { p.flagsOffset = kMoreFragments; }),
     EDecodeResult::kRecorded, kSent, 40000, 80, 40, 100},
    {"UdpFirstFragmentReadsItsPorts",
     With(Udp(100), [](CTestPacket& p) { p.flagsOffset = kMoreFragments; }),
     EDecodeResult::kRecorded, kSent, 5353, 53, 28, 100},
    {"UdpLaterFragmentIsAllPayload",
     With(Udp(100), [](CTestPacket& p) { p.flagsOffset = kMoreFragments | kOffset185; }),
     EDecodeResult::kRecorded, kSent, 0, 0, 20, 100},
    {"TcpLastFragmentIsAllPayload",
     With(Tcp(3), [](CTestPacket& p) { p.flagsOffset = kOffset185; }), EDecodeResult::kRecorded,
     kSent, 0, 0, 20, 3},
    {"LaterFragmentOfAnotherProtocol",
     With(Tcp(3), [](CTestPacket& p) { p.flagsOffset = kOffset185; p.protocol = 1; }),
     EDecodeResult::kProtocol},
    {"DontFragmentIsNoFragment",
     With(Tcp(10), [](CTestPacket& p) { p.flagsOffset = 0x4000; }), EDecodeResult::kRecorded,
     kSent, 40000, 80, 40, 10},
    {"HeaderClaimsLessThanCarried",
     With(Tcp(10), [](CTestPacket& p) { p.totalLengthDelta = -4; }), EDecodeResult::kRecorded,
     kSent, 40000, 80, 40, 6},
    {"HeaderClaimsMoreThanCaptured",
     With(Tcp(10), [](CTestPacket& p) { p.totalLengthDelta = 1000; }), EDecodeResult::kRecorded,
     kSent, 40000, 80, 40, 10},
    {"TotalLengthBelowHeader", With(Tcp(10), [](CTestPacket& p) { p.totalLengthDelta = -40; }),
     EDecodeResult::kNoPayload},
    {"FilteredRemote", Tcp(10), EDecodeResult::kFiltered, {}, 0, 0, 0, 0,
     Exclude(CFilterRule(10, 0, 5, 5, 80))},
    // IPv6: each extension header walked, fragments as for IPv4, and the
    // protocols that end the walk.
    {"Ipv6Tcp", Six(Tcp(10)), EDecodeResult::kRecorded, kSent, 40000, 80, 60, 10},
    {"Ipv6UdpReceived",
     With(Six(Udp(10)), [](CTestPacket& p) { std::swap(p.source, p.destination); }),
     EDecodeResult::kRecorded, kReceived, 53, 5353, 48, 10},
    {"Ipv6HopByHop", Six(Tcp(10), {0}), EDecodeResult::kRecorded, kSent, 40000, 80, 68, 10},
    {"Ipv6Routing", Six(Tcp(10), {43}), EDecodeResult::kRecorded, kSent, 40000, 80, 68, 10},
    {"Ipv6DestinationOptions", Six(Udp(10), {60}), EDecodeResult::kRecorded, kSent, 5353, 53,
     56, 10},
    {"Ipv6FirstFragment", Six(Tcp(100), {0, 44}, kMoreFragments), EDecodeResult::kRecorded,
     kSent, 40000, 80, 76, 100},
    {"Ipv6LaterFragment", Six(Udp(100), {60, 44}, kOffset185), EDecodeResult::kRecorded, kSent,
     0, 0, 56, 100},
    {"Ipv6Icmp", With(Six(Tcp(10)), [](CTestPacket& p) { p.protocol = 58; }),
     EDecodeResult::kProtocol},
    {"Ipv6NoNextHeader", With(Six(Tcp(10), {60}), [](CTestPacket& p) { p.protocol = 59; }),
     EDecodeResult::kProtocol},
    {"Ipv6ClaimsMoreThanCaptured",
     With(Six(Tcp(10)), [](CTestPacket& p) { p.totalLengthDelta = 1000; }),
     EDecodeResult::kRecorded, kSent, 40000, 80, 60, 10},
    {"Ipv6LoopbackSourceCountsAsSent",
     With(Six(Tcp(10)), [](CTestPacket& p) { p.source = kLoopbackAddr6; p.destination = TestV6(9); }),
     EDecodeResult::kRecorded, kSent, 40000, 80, 60, 10},
    {"FilterLooksAtRemotePortOnly",
     With(Tcp(10), [](CTestPacket& p) { p.sourcePort = 80; p.destinationPort = 9999; }),
     EDecodeResult::kRecorded, kSent, 80, 9999, 40, 10, Exclude(CFilterRule(0, 0, 0, 0, 80))},
};

class DecodeCaseTest : public DecoderTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(DecodeCaseTest, Decodes) {
  const DecodeCase& c = GetParam();
  DecoderTestAccess access{t.switches, t.filters, local};
  if (c.setup) c.setup(access);
  const std::vector<uint8_t> packet = IpPacket(c.packet);
  ASSERT_EQ(Feed(packet), c.result);
  if (c.result != EDecodeResult::kRecorded) {
    ExpectUntouched();
    return;
  }
  const std::vector<CPacketRef> recent = Recent();
  ASSERT_EQ(recent.size(), 1u);
  const CPacketRecord& r = *recent.back();
  EXPECT_EQ(r.direction, c.direction);
  EXPECT_EQ(r.localPort, c.localPort);
  EXPECT_EQ(r.remotePort, c.remotePort);
  EXPECT_EQ(r.headerLength, c.headerLength);
  EXPECT_EQ(r.Payload().size(), c.payloadKept);
  if (!r.Payload().empty()) {
    EXPECT_EQ(r.Payload()[0], 'a');
  }
  EXPECT_EQ(r.totalLength, static_cast<int>(packet.size()) + c.packet.totalLengthDelta);
  EXPECT_EQ(r.fragment, (c.packet.flagsOffset & kMoreFragments) != 0);
  EXPECT_EQ(r.laterFragment, c.packet.LaterFragment());
  const bool v6 = c.packet.source.IsV6();
  const bool fragmentHeader = std::count(c.packet.extensions.begin(), c.packet.extensions.end(), 44) > 0;
  EXPECT_EQ(r.identification, !v6 ? c.packet.identification & 0xFFFF
                                  : fragmentHeader ? c.packet.identification : 0);
  EXPECT_EQ(r.ttl, c.packet.ttl);
  EXPECT_EQ(r.protocol, c.packet.protocol);
  EXPECT_EQ(r.local, c.direction == kSent ? c.packet.source : c.packet.destination);
  EXPECT_EQ(r.remote, c.direction == kSent ? c.packet.destination : c.packet.source);
  EXPECT_EQ(r.time, (CTimeStamp{1000, 0}));
  if (c.packet.protocol == 6 && !c.packet.LaterFragment()) {
    EXPECT_EQ(r.seq, c.packet.seq);
    EXPECT_EQ(r.ack, c.packet.ack);
    EXPECT_EQ(r.tcpFlags, c.packet.tcpFlags);
  } else {
    EXPECT_EQ(r.seq, 0u);
    EXPECT_EQ(r.tcpFlags, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, DecodeCaseTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct MalformedCase {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> damage;
};

class MalformedTest : public DecoderTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedTest, IsDropped) {
  std::vector<uint8_t> packet = Ipv4Packet(Tcp(30));
  GetParam().damage(packet);
  EXPECT_EQ(Feed(packet), EDecodeResult::kMalformed);
  ExpectUntouched();
}

INSTANTIATE_TEST_SUITE_P(
    Headers, MalformedTest,
    ::testing::Values(MalformedCase{"VersionFive", [](auto& b) { b[0] = 0x55; }},
                      MalformedCase{"Ipv6Jumbogram", [](auto& b) { b = Ipv6Packet(Six(Tcp(30), {0})); b[4] = b[5] = 0; }},
                      MalformedCase{"Ipv6HopByHopNotFirst", [](auto& b) { b = Ipv6Packet(Six(Tcp(30), {60, 0})); }},
                      MalformedCase{"IhlBelowFive", [](auto& b) { b[0] = 0x44; }},
                      MalformedCase{"IhlZero", [](auto& b) { b[0] = 0x40; }},
                      MalformedCase{"UdpIhlBelowFive", [](auto& b) { b[0] = 0x42; b[9] = 17; }},
                      MalformedCase{"TcpOffsetBelowFive", [](auto& b) { b[32] = 0x40; }},
                      MalformedCase{"TcpOffsetZero", [](auto& b) { b[32] = 0x00; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderTest, HeaderOnlyKeepsNoPayload) {
  SetOptions(true, true, true);
  ASSERT_EQ(Feed(Ipv4Packet(Tcp(10))), EDecodeResult::kRecorded);
  EXPECT_TRUE(Recent().back()->Payload().empty());
  EXPECT_EQ(Recent().back()->PayloadLength(), 10);
}

// Exact-size buffers so AddressSanitizer sees any read past the captured bytes.
TEST_F(DecoderTest, EveryPrefixStaysInsideTheCapturedBytes) {
  const std::vector<CTestPacket> packets = {
      Tcp(12),
      Udp(5),
      With(Tcp(9), [](CTestPacket& p) { p.optionWords = 10; p.tcpOptionWords = 10; }),
      With(Tcp(9), [](CTestPacket& p) { p.flagsOffset = kMoreFragments; }),
      With(Udp(9), [](CTestPacket& p) { p.optionWords = 2; p.totalLengthDelta = 50; }),
      Six(Tcp(9), {0, 43, 60}),
      Six(Udp(9), {0, 44}, kMoreFragments | kOffset185),
  };
  for (const CTestPacket& p : packets) {
    const std::vector<uint8_t> full = IpPacket(p);
    const int headerLength = static_cast<int>(full.size()) - p.payload;
    for (std::size_t n = 0; n <= full.size(); ++n) {
      const uint64_t before = t.session.RecordedPackets();
      const std::vector<uint8_t> prefix(full.begin(), full.begin() + static_cast<long>(n));
      const EDecodeResult result = Feed(prefix);
      if (static_cast<int>(n) < headerLength) {
        EXPECT_EQ(result, EDecodeResult::kTruncated) << "prefix " << n;
        EXPECT_EQ(t.session.RecordedPackets(), before);
      } else {
        ASSERT_EQ(result, EDecodeResult::kRecorded) << "prefix " << n;
        EXPECT_EQ(Recent().back()->Payload().size(), n - static_cast<std::size_t>(headerLength));
      }
    }
  }
}

// Both ends on this host: the ports and the role decide, so that a request
// and its answer land in one conversation; a remote end keeps the old rule.
struct DirectionCase {
  const char* name;
  CIpAddr source;
  uint16_t sourcePort;
  CIpAddr destination;
  uint16_t destinationPort;
  EHostRole role;
  EDirection expected;
};

const CIpAddr kLo(127, 0, 0, 1);
const CIpAddr kLo6 = kLoopbackAddr6;
constexpr EHostRole kClient = EHostRole::kClient;
constexpr EHostRole kServer = EHostRole::kServer;

const DirectionCase kDirections[] = {
    {"ClientRequest", kLo, 50000, kLo, 80, kClient, kSent},
    {"ClientAnswer", kLo, 80, kLo, 50000, kClient, kReceived},
    {"ServerRequest", kLo, 50000, kLo, 80, kServer, kReceived},
    {"ServerAnswer", kLo, 80, kLo, 50000, kServer, kSent},
    {"EqualPortsClient", kLo, 7, kLo, 7, kClient, kSent},
    {"EqualPortsServer", kLo, 7, kLo, 7, kServer, kSent},
    {"OwnAddressToLoopbackNet", CIpAddr(10, 0, 0, 1), 53, CIpAddr(127, 0, 0, 53), 41000, kClient, kReceived},
    {"Ipv6Loopback", kLo6, 443, kLo6, 50000, kServer, kSent},
    {"RemoteHostKeepsTheAddressRule", CIpAddr(10, 0, 0, 1), 80, CIpAddr(10, 0, 5, 5), 40000, kClient, kSent},
    {"LoopbackNetToRemoteIsNotLocalTraffic", CIpAddr(127, 0, 0, 9), 80, CIpAddr(10, 0, 5, 5), 40000, kClient,
     EDirection::kNone},
};

class DirectionTest : public ::testing::TestWithParam<DirectionCase> {};

TEST_P(DirectionTest, Decides) {
  const DirectionCase& c = GetParam();
  CInterfaceRecord local;
  local.AddAddress(10, 0, 0, 1);
  EXPECT_EQ(PacketDirection(local, c.source, c.sourcePort, c.destination, c.destinationPort, c.role),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(LocalHost, DirectionTest, ::testing::ValuesIn(kDirections),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
