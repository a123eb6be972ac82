// The log directory is removed, made read-only or filled during a trace:
// recording goes on, logging stops, and the user is told.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/app_state.h"
#include "engine/capture_file_replay.h"
#include "engine/interface_record.h"
#include "model/traffic_model.h"
#include "output/log_writer.h"
#include "tests/capture_test_frames.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

enum class EFault { kRemoved, kReadOnly, kFull };

// UDP frames of 1400 payload bytes from 10.0.0.1 to 40 hosts, ten a second.
void WriteCapture(const std::string& path, int frames) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
  ASSERT_NE(dumper, nullptr);
  for (int i = 0; i < frames; ++i) {
    CTestPacket p;
    p.protocol = 17;
    p.source = CIpAddr(10, 0, 0, 1);
    p.destination = CIpAddr(192, 0, 2, static_cast<uint8_t>(1 + i % 40));
    p.sourcePort = static_cast<uint16_t>(30000 + i);
    p.payload = 1400;
    const auto frame = EthernetFrame(Ipv4Packet(p));
    pcap_pkthdr header{};
    header.ts.tv_sec = 1700000000 + i / 10;
    header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
    pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame.data());
  }
  pcap_dump_close(dumper);
  pcap_close(dead);
}

class LogFault : public ::testing::TestWithParam<EFault> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("trafalyn-logfault-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "logs");
    capture_ = (dir_ / "traffic.pcap").string();
    WriteCapture(capture_, 3000);
    local_.AddAddress(10, 0, 0, 1);
    state_.logDir = (dir_ / "logs").string();
    state_.logToFile = 1;
    state_.statsOption = 1;
    state_.dataOption = 1;
  }
  void TearDown() override {
    if (mounted_) umount2(state_.logDir.c_str(), MNT_DETACH);
    fs::remove_all(dir_);
  }

  // A read-only bind of the log directory, or a tmpfs too small for it.
  bool Mount(EFault fault) {
    const char* logs = state_.logDir.c_str();
    if (fault == EFault::kFull) {
      mounted_ = mount("none", logs, "tmpfs", 0, "size=64k") == 0;
      return mounted_;
    }
    if (mount(logs, logs, nullptr, MS_BIND, nullptr) != 0) return false;
    mounted_ = true;
    return mount(nullptr, logs, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  }

  void WorkerPass(int64_t now) {
    std::lock_guard<std::mutex> lock(state_.trafficLock);
    if (state_.logToFile.load() == 0) return;
    WriteLogs(state_.Model(), 0, 1, 1, 0, now);
  }

  fs::path dir_;
  std::string capture_;
  CAppState state_;
  CInterfaceRecord local_;
  bool mounted_ = false;
};

TEST_P(LogFault, TraceGoesOnAndTheUserIsTold) {
  const EFault fault = GetParam();
  if (fault != EFault::kRemoved && geteuid() != 0) GTEST_SKIP() << "needs root to mount";

  // The fault hits files already in use.
  ASSERT_TRUE(ReplayCaptureFile(state_, capture_, local_).Ok());
  WorkerPass(1700000400);
  ASSERT_EQ(state_.logToFile.load(), 1);
  ASSERT_TRUE(state_.notifications.TakeAll().empty());
  ASSERT_TRUE(fs::exists(state_.Model().traceFileName));

  if (fault == EFault::kRemoved) {
    fs::remove_all(state_.logDir);
  } else if (!Mount(fault)) {
    GTEST_SKIP() << "cannot mount over the log directory here";
  }

  std::atomic<int> keepGoing{1};
  CReplayResult during;
  std::thread capture([&] {
    while (keepGoing.load() != 0) {
      const CReplayResult r = ReplayCaptureFile(state_, capture_, local_, &keepGoing);
      during.framesRecorded += r.framesRecorded;
      if (!r.Ok()) during.error = r.error;
    }
  });
  for (int pass = 0; pass < 5; ++pass) {
    WorkerPass(1700000500 + 20 * pass);
    std::this_thread::sleep_for(20ms);
  }
  keepGoing = 0;
  capture.join();

  EXPECT_TRUE(during.Ok()) << during.error;
  EXPECT_GT(during.framesRecorded, 0u);
  EXPECT_EQ(state_.logToFile.load(), 0);
  // Told once per file, not once per pass.
  const std::vector<std::string> messages = state_.notifications.TakeAll();
  ASSERT_GE(messages.size(), 1u);
  EXPECT_LE(messages.size(), 2u);
  const char* prefix = fault == EFault::kFull ? "Could not write file: " : "Could not open file: ";
  for (const std::string& m : messages) {
    EXPECT_TRUE(m == prefix + state_.Model().statsFileName ||
                m == prefix + state_.Model().traceFileName)
        << m;
  }

  std::lock_guard<std::mutex> lock(state_.trafficLock);
  EXPECT_GT(state_.Model().hosts.Size(), 0u);
}

const char* const kFaultNames[] = {"DirectoryRemoved", "DirectoryReadOnly", "DiskFull"};

INSTANTIATE_TEST_SUITE_P(Faults, LogFault,
                         ::testing::Values(EFault::kRemoved, EFault::kReadOnly, EFault::kFull),
                         [](const auto& info) {
                           return std::string(kFaultNames[static_cast<int>(info.param)]);
                         });

}  // namespace
