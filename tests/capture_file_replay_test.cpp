#include "engine/capture_file_replay.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/interface_record.h"
#include "tests/test_support.h"

namespace {

// By hand (the library writes no pcapng): section header, one Ethernet
// interface, an enhanced packet block per frame.
void WritePcapng(const std::string& path, const std::vector<CFrame>& frames) {
  std::vector<uint8_t> out;
  auto u16 = [&](uint16_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  auto u32 = [&](uint32_t v) { u16(uint16_t(v)); u16(uint16_t(v >> 16)); };
  u32(0x0A0D0D0A); u32(28); u32(0x1A2B3C4D); u16(1); u16(0); u32(0xFFFFFFFF); u32(0xFFFFFFFF); u32(28);
  u32(1); u32(20); u16(DLT_EN10MB); u16(0); u32(65536); u32(20);
  for (const CFrame& f : frames) {
    const uint32_t padded = (static_cast<uint32_t>(f.bytes.size()) + 3) & ~3u;
    const uint32_t length = 32 + padded;
    const uint64_t micros = static_cast<uint64_t>(f.sec) * 1000000 + 250000;
    u32(6); u32(length); u32(0); u32(uint32_t(micros >> 32)); u32(uint32_t(micros));
    u32(static_cast<uint32_t>(f.bytes.size())); u32(static_cast<uint32_t>(f.bytes.size()));
    out.insert(out.end(), f.bytes.begin(), f.bytes.end());
    out.resize(out.size() + (padded - f.bytes.size()), 0);
    u32(length);
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()),
                                              static_cast<std::streamsize>(out.size()));
}

CTestPacket Tcp(CIpAddr from, CIpAddr to, int payload = 20) {
  CTestPacket p;
  p.source = from;
  p.destination = to;
  p.payload = payload;
  return p;
}

const CIpAddr kLocal = CIpAddr(10, 0, 0, 1);
const CIpAddr kPeer = CIpAddr(10, 0, 5, 5);
const CIpAddr kOther = CIpAddr(10, 0, 7, 7);

// Five frames of which two are the local host's TCP with payload.
std::vector<std::vector<uint8_t>> MixedPackets() {
  CTestPacket icmp = Tcp(kLocal, kPeer);
  icmp.protocol = 1;
  CTestPacket bareAck = Tcp(kPeer, kLocal, 0);
  return {Ipv4Packet(Tcp(kLocal, kPeer)), Ipv4Packet(icmp), Ipv4Packet(bareAck),
          Ipv4Packet(Tcp(kOther, kPeer)), Ipv4Packet(Tcp(kPeer, kLocal, 300))};
}

class ReplayTest : public ::testing::Test {
 protected:
  ReplayTest() { local.AddAddress(10, 0, 0, 1); }
  std::string Path(const std::string& name) { return dir.File(name); }
  uint64_t Bytes(bool sent) {
    return t.session.WithModel([sent](const CTrafficModel& m) {
      uint64_t n = 0;
      for (const auto& c : m.conversations.Conversations()) n += sent ? c->bytesSent : c->bytesReceived;
      return n;
    });
  }
  CReplayResult Replay(const std::string& path, const std::atomic<bool>* keepGoing = nullptr) {
    return ReplayCaptureFile(t.session, path, local, keepGoing);
  }

  TempDir dir;
  CTestSession t;
  CInterfaceRecord local;
};

struct LinkFileCase {
  const char* name;
  int linkType;
  std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> wrap;
  bool pcapng = false;
};

class ReplayLinkTest : public ReplayTest, public ::testing::WithParamInterface<LinkFileCase> {};

TEST_P(ReplayLinkTest, RecordsTheLocalHostsPackets) {
  const LinkFileCase& c = GetParam();
  std::vector<CFrame> frames;
  int64_t when = 1700000000;
  for (const auto& packet : MixedPackets()) frames.push_back({when++, c.wrap(packet)});
  if (c.linkType == DLT_EN10MB) frames.push_back({when++, EthernetFrame(std::vector<uint8_t>(28, 0), 0x0806)});
  const std::string path = Path(std::string(c.name) + ".pcap");
  if (c.pcapng) {
    WritePcapng(path, frames);
  } else {
    WritePcap(path, c.linkType, frames);
  }

  const CReplayResult r = Replay(path);
  EXPECT_TRUE(r.Ok()) << r.error;
  EXPECT_FALSE(r.cancelled);
  EXPECT_EQ(r.framesRead, frames.size());
  EXPECT_EQ(r.framesRecorded, 2u);
  EXPECT_EQ(Bytes(true), 60u);
  EXPECT_EQ(Bytes(false), 340u);
  // The capture clock stands at the last frame's time.
  EXPECT_EQ(t.session.Clock().Now(), 1700000000 + static_cast<int64_t>(frames.size()) - 1);
}

INSTANTIATE_TEST_SUITE_P(
    LinkTypes, ReplayLinkTest,
    ::testing::Values(
        LinkFileCase{"Ethernet", DLT_EN10MB, [](const auto& p) { return EthernetFrame(p); }},
        LinkFileCase{"Pcapng", DLT_EN10MB, [](const auto& p) { return EthernetFrame(p); }, true},
        LinkFileCase{"CookedV1", DLT_LINUX_SLL, [](const auto& p) { return SllFrame(p); }},
        LinkFileCase{"CookedV2", DLT_LINUX_SLL2, [](const auto& p) { return Sll2Frame(p); }},
        LinkFileCase{"Raw", DLT_RAW, [](const auto& p) { return p; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReplayTest, DamagedFileKeepsWhatWasReadAndSaysWhy) {
  std::vector<CFrame> frames;
  for (int i = 0; i < 3; ++i) frames.push_back({1700000000 + i, EthernetFrame(Ipv4Packet(Tcp(kLocal, kPeer, 100)))});
  const std::string path = Path("damaged.pcap");
  WritePcap(path, DLT_EN10MB, frames);
  // Cut the file in the middle of the third frame's bytes.
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 50);
  const CReplayResult r = Replay(path);
  EXPECT_FALSE(r.Ok());
  EXPECT_NE(r.error.find("truncated"), std::string::npos) << r.error;
  EXPECT_EQ(r.framesRead, 2u);
  EXPECT_EQ(r.framesRecorded, 2u);
}

TEST_F(ReplayTest, FilesThatCannotBeReplayed) {
  const CReplayResult missing = Replay(Path("missing.pcap"));
  EXPECT_FALSE(missing.Ok());
  EXPECT_EQ(missing.framesRead, 0u);

  const std::string garbage = Path("garbage.pcap");
  std::ofstream(garbage) << "this is not a capture file at all";
  EXPECT_FALSE(Replay(garbage).Ok());

  const std::string null = Path("null.pcap");
  WritePcap(null, DLT_NULL, {{1, WithPrefix({2, 0, 0, 0}, Ipv4Packet(Tcp(kLocal, kPeer)))}});
  const CReplayResult r = Replay(null);
  EXPECT_NE(r.error.find("NULL"), std::string::npos) << r.error;
  EXPECT_EQ(r.framesRead, 0u);
  EXPECT_FALSE(t.session.HoldsData());
}

TEST_F(ReplayTest, CancelledBeforeTheFirstFrame) {
  const std::string path = Path("cancel.pcap");
  WritePcap(path, DLT_EN10MB, {{1, EthernetFrame(Ipv4Packet(Tcp(kLocal, kPeer)))}});
  const std::atomic<bool> keepGoing{false};
  const CReplayResult r = Replay(path, &keepGoing);
  EXPECT_TRUE(r.cancelled && r.framesRead == 0u);
}

TEST_F(ReplayTest, MostFrequentAddressPerFamilySkipsBroadcastAndStopsAtTheLimit) {
  std::vector<CFrame> frames;
  CTestPacket dhcp = Tcp(CIpAddr(0, 0, 0, 0), CIpAddr(255, 255, 255, 255));
  CTestPacket mdns = Tcp(kOther, CIpAddr(224, 0, 0, 251));
  const CIpAddr v6Local = TestV6(1);
  const CIpAddr v6Multicast = CIpAddr::V6({0xff, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xfb});
  for (int i = 0; i < 3; ++i) frames.push_back({1, EthernetFrame(Ipv4Packet(Tcp(kLocal, kPeer)))});
  for (int i = 0; i < 2; ++i) frames.push_back({1, EthernetFrame(Ipv4Packet(mdns))});
  for (int i = 0; i < 10; ++i) frames.push_back({1, EthernetFrame(Ipv4Packet(dhcp))});
  frames.push_back({1, EthernetFrame(std::vector<uint8_t>(28, 0), 0x0806)});  // not IP
  for (int i = 0; i < 2; ++i) frames.push_back({1, EthernetFrame(Ipv6Packet(Tcp(v6Local, v6Multicast)), 0x86DD)});
  frames.push_back({1, EthernetFrame(Ipv6Packet(Tcp(TestV6(5), v6Local)), 0x86DD)});
  for (int i = 0; i < 50; ++i) frames.push_back({2, EthernetFrame(Ipv4Packet(Tcp(kOther, kPeer)))});
  const std::string path = Path("frequent.pcap");
  WritePcap(path, DLT_EN10MB, frames);
  std::string error;
  auto guess = [&error](const std::string& file, std::size_t frames) {
    CCaptureInput input(file);
    return MostFrequentAddresses(input, &error, frames);
  };
  // First 15 frames: kLocal 3, kPeer 3 (a tie, kLocal seen first), kOther
  // 2; broadcast, multicast and 0.0.0.0 do not count. Past the ARP frame,
  // three IPv6 frames later, v6Local leads its family.
  EXPECT_EQ(guess(path, 15), (std::vector<CIpAddr>{kLocal}));
  EXPECT_EQ(guess(path, 19), (std::vector<CIpAddr>{kLocal, v6Local}));
  EXPECT_EQ(guess(path, CCaptureInput::kLookAheadFrames), (std::vector<CIpAddr>{kPeer, v6Local}));
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_TRUE(guess(Path("none.pcap"), 10).empty());
  EXPECT_FALSE(error.empty());
}

}  // namespace
