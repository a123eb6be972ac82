#include "engine/capture_file_replay.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/app_state.h"
#include "engine/interface_record.h"
#include "model/traffic_model.h"
#include "tests/capture_test_frames.h"

namespace {

struct CFrame {
  int64_t sec;
  std::vector<uint8_t> bytes;
};

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "trafalyn_replay_" + std::to_string(getpid()) + "_" + name;
}

void WritePcap(const std::string& path, int linkType, const std::vector<CFrame>& frames) {
  pcap_t* dead = pcap_open_dead(linkType, 65536);
  ASSERT_NE(dead, nullptr);
  pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
  ASSERT_NE(dumper, nullptr) << pcap_geterr(dead);
  for (const CFrame& f : frames) {
    pcap_pkthdr h{};
    h.ts.tv_sec = f.sec;
    h.ts.tv_usec = 250000;
    h.caplen = static_cast<bpf_u_int32>(f.bytes.size());
    h.len = h.caplen;
    pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.bytes.data());
  }
  pcap_dump_close(dumper);
  pcap_close(dead);
}

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
  ~ReplayTest() override {
    for (const std::string& p : paths) std::remove(p.c_str());
  }
  std::string Path(const std::string& name) {
    paths.push_back(TempPath(name));
    return paths.back();
  }
  uint64_t Bytes(bool sent) {
    uint64_t n = 0;
    for (const auto& c : state.Model().conversations.Conversations())
      n += sent ? c->bytesSent : c->bytesReceived;
    return n;
  }

  CAppState state;
  CInterfaceRecord local;
  std::vector<std::string> paths;
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
  int64_t t = 1700000000;
  for (const auto& packet : MixedPackets()) frames.push_back({t++, c.wrap(packet)});
  if (c.linkType == DLT_EN10MB) frames.push_back({t++, EthernetFrame(std::vector<uint8_t>(28, 0), 0x0806)});
  const std::string path = Path(std::string(c.name) + ".pcap");
  if (c.pcapng) {
    WritePcapng(path, frames);
  } else {
    WritePcap(path, c.linkType, frames);
  }

  const CReplayResult r = ReplayCaptureFile(state, path, local);
  EXPECT_TRUE(r.Ok()) << r.error;
  EXPECT_FALSE(r.cancelled);
  EXPECT_EQ(r.framesRead, frames.size());
  EXPECT_EQ(r.framesRecorded, 2u);
  ASSERT_EQ(state.Model().recent.size(), 2u);
  EXPECT_EQ(state.Model().recent[0]->time, (CTimeStamp{1700000000, 250000}));
  EXPECT_EQ(state.Model().recent[1]->direction, 2);
  EXPECT_EQ(Bytes(true), 60u);
  EXPECT_EQ(Bytes(false), 340u);
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
  const CReplayResult r = ReplayCaptureFile(state, path, local);
  EXPECT_FALSE(r.Ok());
  EXPECT_NE(r.error.find("truncated"), std::string::npos) << r.error;
  EXPECT_EQ(r.framesRead, 2u);
  EXPECT_EQ(r.framesRecorded, 2u);
  EXPECT_EQ(state.Model().recent.size(), 2u);
}

TEST_F(ReplayTest, FilesThatCannotBeReplayed) {
  const CReplayResult missing = ReplayCaptureFile(state, Path("missing.pcap"), local);
  EXPECT_FALSE(missing.Ok());
  EXPECT_EQ(missing.framesRead, 0u);

  const std::string garbage = Path("garbage.pcap");
  std::ofstream(garbage) << "this is not a capture file at all";
  EXPECT_FALSE(ReplayCaptureFile(state, garbage, local).Ok());

  const std::string null = Path("null.pcap");
  WritePcap(null, DLT_NULL, {{1, WithPrefix({2, 0, 0, 0}, Ipv4Packet(Tcp(kLocal, kPeer)))}});
  const CReplayResult r = ReplayCaptureFile(state, null, local);
  EXPECT_NE(r.error.find("NULL"), std::string::npos) << r.error;
  EXPECT_EQ(r.framesRead, 0u);
  EXPECT_EQ(state.Model().recent.size(), 0u);
}

TEST_F(ReplayTest, CancelledBeforeTheFirstFrame) {
  const std::string path = Path("cancel.pcap");
  WritePcap(path, DLT_EN10MB, {{1, EthernetFrame(Ipv4Packet(Tcp(kLocal, kPeer)))}});
  const std::atomic<int> keepGoing{0};
  const CReplayResult r = ReplayCaptureFile(state, path, local, &keepGoing);
  EXPECT_TRUE(r.cancelled && r.framesRead == 0u);
}

TEST_F(ReplayTest, LogPassFollowsTheCaptureClock) {
  state.logToFile = 1;  // Stats and Data stay off: nothing is written
  std::vector<CFrame> frames;
  for (int64_t t : {1000000000, 1000000010, 1000000020, 1000000030, 1000000040})
    frames.push_back({t, EthernetFrame(Ipv4Packet(Tcp(kLocal, kPeer)))});
  const std::string path = Path("clock.pcap");
  WritePcap(path, DLT_EN10MB, frames);
  ASSERT_TRUE(ReplayCaptureFile(state, path, local).Ok());
  // Due after more than 15 s of capture time: at +20 and again at +40.
  EXPECT_EQ(state.Model().lastFlushTime, 1000000040);
}

TEST_F(ReplayTest, MostFrequentAddressSkipsBroadcastAndStopsAtTheLimit) {
  std::vector<CFrame> frames;
  CTestPacket dhcp = Tcp(CIpAddr(0, 0, 0, 0), CIpAddr(255, 255, 255, 255));
  CTestPacket mdns = Tcp(kOther, CIpAddr(224, 0, 0, 251));
  for (int i = 0; i < 3; ++i) frames.push_back({1, EthernetFrame(Ipv4Packet(Tcp(kLocal, kPeer)))});
  for (int i = 0; i < 2; ++i) frames.push_back({1, EthernetFrame(Ipv4Packet(mdns))});
  for (int i = 0; i < 10; ++i) frames.push_back({1, EthernetFrame(Ipv4Packet(dhcp))});
  frames.push_back({1, EthernetFrame(std::vector<uint8_t>(28, 0), 0x0806)});  // not IPv4
  for (int i = 0; i < 50; ++i) frames.push_back({2, EthernetFrame(Ipv4Packet(Tcp(kOther, kPeer)))});
  const std::string path = Path("frequent.pcap");
  WritePcap(path, DLT_EN10MB, frames);
  std::string error;
  // First 15 IPv4 frames: kLocal 3, kPeer 3 (a tie, kLocal seen first),
  // kOther 2; broadcast, multicast and 0.0.0.0 do not count.
  EXPECT_EQ(MostFrequentAddress(path, &error, 15), kLocal);
  EXPECT_EQ(MostFrequentAddress(path, &error, 16), kPeer);
  EXPECT_EQ(MostFrequentAddress(path, &error), kPeer);
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_FALSE(MostFrequentAddress(Path("none.pcap"), &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(ReplayTest, SampleCapture) {
  const std::string path = std::string(TRAFALYN_SOURCE_DIR) + "/resources/sample.pcap";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no sample capture";
  const auto address = MostFrequentAddress(path);
  ASSERT_TRUE(address);
  EXPECT_EQ(*address, CIpAddr(192, 0, 2, 10));
  CInterfaceRecord workstation;
  workstation.AddAddress(192, 0, 2, 10);
  const CReplayResult r = ReplayCaptureFile(state, path, workstation);
  EXPECT_TRUE(r.Ok()) << r.error;
  EXPECT_GT(r.framesRecorded, 0u);
  EXPECT_LT(r.framesRecorded, r.framesRead);
  EXPECT_EQ(state.Model().hosts.Find(CIpAddr(192, 0, 2, 20)), nullptr);
  EXPECT_NE(state.Model().hosts.Find(CIpAddr(198, 51, 100, 20)), nullptr);
}

// A reader under the traffic lock always sees a consistent model (run under TSan).
TEST_F(ReplayTest, ReaderWalksTheModelDuringReplay) {
  std::vector<CFrame> frames;
  for (int i = 0; i < 2000; ++i) {
    CTestPacket p = Tcp(i % 2 ? kLocal : kPeer, i % 2 ? kPeer : kLocal);
    p.seq = static_cast<uint32_t>(i);
    frames.push_back({1700000000 + i / 100, EthernetFrame(Ipv4Packet(p))});
  }
  const std::string path = Path("busy.pcap");
  WritePcap(path, DLT_EN10MB, frames);
  std::atomic<int> done{0};
  std::thread reader([&] {
    while (done.load() == 0) {
      std::lock_guard<std::mutex> lock(state.trafficLock);
      uint64_t packets = 0;
      for (const auto& c : state.Model().conversations.Conversations())
        packets += c->packetsSent + c->packetsReceived;
      EXPECT_LE(packets, frames.size());
      EXPECT_LE(state.Model().recent.size(), CTrafficModel::kMaxRecent);
    }
  });
  const CReplayResult r = ReplayCaptureFile(state, path, local);
  done = 1;
  reader.join();
  EXPECT_EQ(r.framesRecorded, frames.size());
}

}  // namespace
