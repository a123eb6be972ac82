#include "engine/packet_decoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/app_state.h"
#include "tests/capture_test_frames.h"
#include "filters/filter_rule.h"
#include "filters/filter_rule_list.h"
#include "engine/interface_record.h"
#include "wire/link_layer.h"
#include "model/traffic_model.h"

namespace {

int64_t gFakeNow = 0;
int64_t FakeNow() { return gFakeNow; }

class DecoderTest : public ::testing::Test {
 protected:
  DecoderTest() {
    local.AddAddress(10, 0, 0, 1);
    context.wallClock = &FakeNow;
  }

  EDecodeResult Feed(const std::vector<uint8_t>& ipv4, CTimeStamp t = {1000, 0}) {
    return ProcessPacket(context, ipv4, t);
  }

  void ExpectUntouched() {
    CTrafficModel& m = state.Model();
    EXPECT_EQ(m.recent.size(), 0u);
    EXPECT_EQ(m.conversations.Size(), 0u);
    EXPECT_EQ(m.conversations.PendingFragments().size(), 0u);
    EXPECT_EQ(m.hosts.Size(), 0u);
    EXPECT_TRUE(m.sampler.Sent().empty());
    EXPECT_EQ(m.newData, 0);
  }

  CAppState state;
  CInterfaceRecord local;
  std::atomic<int> running{1};
  CDecodeContext context{state, local, running, EDecodeClock::kWall};
};

struct DecodeCase {
  const char* name;
  CTestPacket packet;
  EDecodeResult result;
  // For recorded packets:
  int direction = 0;
  uint16_t localPort = 0;
  uint16_t remotePort = 0;
  int headerLength = 0;
  std::size_t payloadKept = 0;
  std::function<void(CAppState&, CInterfaceRecord&)> setup = nullptr;
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

std::function<void(CAppState&, CInterfaceRecord&)> Exclude(CFilterRule rule) {
  return [rule](CAppState& s, CInterfaceRecord&) {
    CFilterRuleList rules;
    rules.SetMode(CFilterRuleList::kExclude);
    rules.Append(rule);
    s.Model().filterRules.Replace(rules);
  };
}

template <typename F>
CTestPacket With(CTestPacket p, F change) {
  change(p);
  return p;
}

const DecodeCase kCases[] = {
    {"TcpWithoutPayload", Tcp(0), EDecodeResult::kNoPayload},
    {"TcpOnePayloadByte", Tcp(1), EDecodeResult::kRecorded, kDirSent, 40000, 80, 40, 1},
    {"TcpSwitchOff", Tcp(10), EDecodeResult::kSwitchedOff, 0, 0, 0, 0, 0,
     [](CAppState& s, CInterfaceRecord&) { s.tcp = 0; }},
    {"UdpSwitchOff", Udp(10), EDecodeResult::kSwitchedOff, 0, 0, 0, 0, 0,
     [](CAppState& s, CInterfaceRecord&) { s.udp = 0; }},
    {"UdpRecordedWhileTcpOff", Udp(10), EDecodeResult::kRecorded, kDirSent, 5353, 53, 28, 10,
     [](CAppState& s, CInterfaceRecord&) { s.tcp = 0; }},
    {"IcmpEchoFromLocalHost", With(Tcp(10), [](CTestPacket& p) { p.protocol = 1; }),
     EDecodeResult::kProtocol},
    {"BetweenTwoOtherHosts",
     With(Tcp(10), [](CTestPacket& p) { p.source = CIpAddr(10, 0, 5, 6); }),
     EDecodeResult::kNotLocal},
    {"ReceivedSwapsRoles",
     With(Tcp(10), [](CTestPacket& p) { std::swap(p.source, p.destination); }),
     EDecodeResult::kRecorded, kDirReceived, 80, 40000, 40, 10},
    {"LoopbackSourceCountsAsSent",
     With(Tcp(10), [](CTestPacket& p) { p.source = kLoopbackAddr; }), EDecodeResult::kRecorded,
     kDirSent, 40000, 80, 40, 10},
    {"LoopbackDestinationCountsAsReceived",
     With(Tcp(10), [](CTestPacket& p) { p.source = CIpAddr(10, 9, 9, 9); p.destination = kLoopbackAddr; }),
     EDecodeResult::kRecorded, kDirReceived, 80, 40000, 40, 10},
    {"BothLocalFirstListedAddressIsDestination",
     With(Tcp(10), [](CTestPacket& p) { p.source = CIpAddr(10, 0, 0, 2); p.destination = CIpAddr(10, 0, 0, 1); }),
     EDecodeResult::kRecorded, kDirReceived, 80, 40000, 40, 10,
     [](CAppState&, CInterfaceRecord& l) { l.AddAddress(10, 0, 0, 2); }},
    {"BothLocalFirstListedAddressIsSource",
     With(Tcp(10), [](CTestPacket& p) { p.destination = CIpAddr(10, 0, 0, 2); }),
     EDecodeResult::kRecorded, kDirSent, 40000, 80, 40, 10,
     [](CAppState&, CInterfaceRecord& l) { l.AddAddress(10, 0, 0, 2); }},
    {"IpOptionsMovePortsAndPayload", With(Tcp(7), [](CTestPacket& p) { p.optionWords = 1; }),
     EDecodeResult::kRecorded, kDirSent, 40000, 80, 44, 7},
    {"TcpOptionsMovePayload", With(Tcp(7), [](CTestPacket& p) { p.tcpOptionWords = 3; }),
     EDecodeResult::kRecorded, kDirSent, 40000, 80, 52, 7},
    {"TcpFirstFragmentHasNoPorts",
     With(Tcp(100), [](CTestPacket& p) { p.flagsOffset = 0x2000; }), EDecodeResult::kRecorded,
     kDirSent, 0, 0, 40, 100},
    {"UdpFirstFragmentKeepsPorts",
     With(Udp(100), [](CTestPacket& p) { p.flagsOffset = 0x2000; }), EDecodeResult::kRecorded,
     kDirSent, 5353, 53, 28, 100},
    {"DontFragmentIsNoFragment",
     With(Tcp(10), [](CTestPacket& p) { p.flagsOffset = 0x4000; }), EDecodeResult::kRecorded,
     kDirSent, 40000, 80, 40, 10},
    {"HeaderClaimsLessThanCarried",
     With(Tcp(10), [](CTestPacket& p) { p.totalLengthDelta = -4; }), EDecodeResult::kRecorded,
     kDirSent, 40000, 80, 40, 6},
    {"HeaderClaimsMoreThanCaptured",
     With(Tcp(10), [](CTestPacket& p) { p.totalLengthDelta = 1000; }), EDecodeResult::kRecorded,
     kDirSent, 40000, 80, 40, 10},
    {"TotalLengthBelowHeader", With(Tcp(10), [](CTestPacket& p) { p.totalLengthDelta = -40; }),
     EDecodeResult::kNoPayload},
    {"FilteredRemote", Tcp(10), EDecodeResult::kFiltered, 0, 0, 0, 0, 0,
     Exclude(CFilterRule(10, 0, 5, 5, 80))},
    {"FilterLooksAtRemotePortOnly",
     With(Tcp(10), [](CTestPacket& p) { p.sourcePort = 80; p.destinationPort = 9999; }),
     EDecodeResult::kRecorded, kDirSent, 80, 9999, 40, 10, Exclude(CFilterRule(0, 0, 0, 0, 80))},
};

class DecodeCaseTest : public DecoderTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(DecodeCaseTest, Decodes) {
  const DecodeCase& c = GetParam();
  if (c.setup) c.setup(state, local);
  ASSERT_EQ(Feed(Ipv4Packet(c.packet)), c.result);
  if (c.result != EDecodeResult::kRecorded) {
    ExpectUntouched();
    return;
  }
  ASSERT_EQ(state.Model().recent.size(), 1u);
  const CPacketRecord& r = *state.Model().recent.back();
  EXPECT_EQ(r.direction, c.direction);
  EXPECT_EQ(r.localPort, c.localPort);
  EXPECT_EQ(r.remotePort, c.remotePort);
  EXPECT_EQ(r.headerLength, c.headerLength);
  EXPECT_EQ(r.Payload().size(), c.payloadKept);
  if (!r.Payload().empty()) EXPECT_EQ(r.Payload()[0], 'a');
  EXPECT_EQ(r.totalLength, static_cast<int>(Ipv4Packet(c.packet).size()) + c.packet.totalLengthDelta);
  EXPECT_EQ(r.fragment, (c.packet.flagsOffset & 0x2000) ? 1 : 0);
  EXPECT_EQ(r.identification, c.packet.identification);
  EXPECT_EQ(r.ttl, c.packet.ttl);
  EXPECT_EQ(r.protocol, c.packet.protocol);
  EXPECT_EQ(r.local, c.direction == kDirSent ? c.packet.source : c.packet.destination);
  EXPECT_EQ(r.remote, c.direction == kDirSent ? c.packet.destination : c.packet.source);
  EXPECT_EQ(r.time, (CTimeStamp{1000, 0}));
  if (c.packet.protocol == 6) {
    EXPECT_EQ(r.seq, c.packet.seq);
    EXPECT_EQ(r.ack, c.packet.ack);
    EXPECT_EQ(r.tcpFlags, c.packet.tcpFlags);
  } else {
    EXPECT_EQ(r.seq, 0u);
    EXPECT_EQ(r.tcpFlags, 0);
  }
  EXPECT_EQ(state.Model().newData, 1);
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
    ::testing::Values(MalformedCase{"Ipv6Version", [](auto& b) { b[0] = 0x65; }},
                      MalformedCase{"IhlBelowFive", [](auto& b) { b[0] = 0x44; }},
                      MalformedCase{"IhlZero", [](auto& b) { b[0] = 0x40; }},
                      MalformedCase{"UdpIhlBelowFive", [](auto& b) { b[0] = 0x42; b[9] = 17; }},
                      MalformedCase{"TcpOffsetBelowFive", [](auto& b) { b[32] = 0x40; }},
                      MalformedCase{"TcpOffsetZero", [](auto& b) { b[32] = 0x00; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderTest, CountersUseTotalLengthWhenCapturedShort) {
  std::vector<uint8_t> packet = Ipv4Packet(Tcp(1000));
  packet.resize(100);  // snapshot length cut the frame
  ASSERT_EQ(Feed(packet), EDecodeResult::kRecorded);
  const CPacketRecord& r = *state.Model().recent.back();
  EXPECT_EQ(r.totalLength, 1040);
  EXPECT_EQ(r.PayloadLength(), 1000);
  EXPECT_EQ(r.Payload().size(), 60u);
  ASSERT_EQ(state.Model().conversations.Size(), 1u);
  EXPECT_EQ(state.Model().conversations.Conversations()[0]->bytesSent, 1040u);
}

TEST_F(DecoderTest, EthernetPaddingIsNeverPayload) {
  // 29-byte IPv4 packet + 17 bytes of Ethernet padding.
  const std::vector<uint8_t> frame = EthernetFrame(Ipv4Packet(Udp(1)));
  ASSERT_EQ(frame.size(), 60u);
  const auto ipv4 = Ipv4FromFrame(1 /* DLT_EN10MB */, frame);
  ASSERT_TRUE(ipv4);
  ASSERT_EQ(ProcessPacket(context, *ipv4, {1, 0}), EDecodeResult::kRecorded);
  const CPacketRecord& r = *state.Model().recent.back();
  ASSERT_EQ(r.Payload().size(), 1u);
  EXPECT_EQ(r.Payload()[0], 'a');
}

TEST_F(DecoderTest, RecentListKeepsNewestNinetyAfterOneHundredOne) {
  for (int i = 0; i < 101; ++i) {
    CTestPacket p = Tcp(10);
    p.seq = static_cast<uint32_t>(i);
    ASSERT_EQ(Feed(Ipv4Packet(p), {1000 + i, 0}), EDecodeResult::kRecorded);
    if (i == 99) ASSERT_EQ(state.Model().recent.size(), 100u);
  }
  ASSERT_EQ(state.Model().recent.size(), 90u);
  EXPECT_EQ(state.Model().recent.front()->seq, 11u);
  EXPECT_EQ(state.Model().recent.back()->seq, 100u);
}

TEST_F(DecoderTest, StoppedDropsEverything) {
  running = 0;
  EXPECT_EQ(Feed(Ipv4Packet(Tcp(10))), EDecodeResult::kStopped);
  ExpectUntouched();
}

TEST_F(DecoderTest, HeaderOnlyKeepsNoPayload) {
  state.headerOnly = 1;
  ASSERT_EQ(Feed(Ipv4Packet(Tcp(10))), EDecodeResult::kRecorded);
  EXPECT_TRUE(state.Model().recent.back()->Payload().empty());
  EXPECT_EQ(state.Model().recent.back()->PayloadLength(), 10);
}

// Stats and Data are off, so the pass writes nothing; lastFlushTime shows when it ran.
TEST_F(DecoderTest, LogPassRunsByTheWallClockOnlyAfterFifteenSeconds) {
  state.logToFile = 1;
  CTrafficModel& m = state.Model();
  m.lastFlushTime = 5000;
  gFakeNow = 5015;
  Feed(Ipv4Packet(Tcp(10)), {1, 0});
  EXPECT_EQ(m.lastFlushTime, 5000);
  gFakeNow = 5016;
  Feed(Ipv4Packet(Tcp(10)), {2, 0});
  EXPECT_EQ(m.lastFlushTime, 5016);
  state.logToFile = 0;
  gFakeNow = 6000;
  Feed(Ipv4Packet(Tcp(10)), {3, 0});
  EXPECT_EQ(m.lastFlushTime, 5016);
}

TEST_F(DecoderTest, LogPassRunsByTheCaptureClockWhenReplaying) {
  CDecodeContext replay(state, local, running, EDecodeClock::kCapture);
  replay.wallClock = &FakeNow;
  gFakeNow = 999999;  // must not matter
  state.logToFile = 1;
  CTrafficModel& m = state.Model();
  m.lastFlushTime = 100;
  replay.AdvanceCaptureClock(110);
  ProcessPacket(replay, Ipv4Packet(Tcp(10)), {110, 0});
  EXPECT_EQ(m.lastFlushTime, 100);
  replay.AdvanceCaptureClock(90);  // an older frame does not turn the clock back
  EXPECT_EQ(replay.Now(), 110);
  replay.AdvanceCaptureClock(117);
  ProcessPacket(replay, Ipv4Packet(Tcp(10)), {117, 0});
  EXPECT_EQ(m.lastFlushTime, 117);
}

// Exact-size buffers so AddressSanitizer sees any read past the captured bytes.
TEST_F(DecoderTest, EveryPrefixStaysInsideTheCapturedBytes) {
  const std::vector<CTestPacket> packets = {
      Tcp(12),
      Udp(5),
      With(Tcp(9), [](CTestPacket& p) { p.optionWords = 10; p.tcpOptionWords = 10; }),
      With(Tcp(9), [](CTestPacket& p) { p.flagsOffset = 0x2000; }),
      With(Udp(9), [](CTestPacket& p) { p.optionWords = 2; p.totalLengthDelta = 50; }),
  };
  for (const CTestPacket& p : packets) {
    const std::vector<uint8_t> full = Ipv4Packet(p);
    const int headerLength = static_cast<int>(full.size()) - p.payload;
    for (std::size_t n = 0; n <= full.size(); ++n) {
      state.Model().recent.clear();
      const std::vector<uint8_t> prefix(full.begin(), full.begin() + static_cast<long>(n));
      const EDecodeResult result = Feed(prefix);
      if (static_cast<int>(n) < headerLength) {
        EXPECT_EQ(result, EDecodeResult::kTruncated) << "prefix " << n;
        EXPECT_TRUE(state.Model().recent.empty());
      } else {
        ASSERT_EQ(result, EDecodeResult::kRecorded) << "prefix " << n;
        EXPECT_EQ(state.Model().recent.back()->Payload().size(),
                  n - static_cast<std::size_t>(headerLength));
      }
    }
  }
}

// Random bytes behind every link type: nothing may read outside the frame.
TEST_F(DecoderTest, RandomFramesAreSafe) {
  std::mt19937 rng(12345);
  const int linkTypes[] = {1, 113, 276, 12, 228, 101, 0};
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> frame(rng() % 90);
    for (auto& b : frame) b = static_cast<uint8_t>(rng());
    // Often IPv4-like, to get past the first checks.
    if (frame.size() > 34 && i % 2 == 0) {
      frame[12] = 0x08, frame[13] = 0x00, frame[14] = static_cast<uint8_t>(0x45 + rng() % 3);
      frame[23] = (i % 4 == 0) ? 6 : 17;
      for (int k = 0; k < 4; ++k) frame[static_cast<std::size_t>(30 + k)] = local.addresses[0][static_cast<std::size_t>(k)];
    }
    const auto ipv4 = Ipv4FromFrame(linkTypes[i % 7], frame);
    if (ipv4) Feed(std::vector<uint8_t>(ipv4->begin(), ipv4->end()));
  }
}

}  // namespace
