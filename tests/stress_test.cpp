// The three threads of a running program on one model, for STRESS_SECONDS
// (default 30): a capture thread replaying a file at full speed, a stand-in
// for the refresh worker on its one-second cycle, and a stand-in for the
// user-interface thread that lists, shows, clears, exports and replaces the
// filter rules while it starts and stops the capture thread every 100 ms.
// Meant to run under ThreadSanitizer and AddressSanitizer as well.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/app_state.h"
#include "engine/capture_file_replay.h"
#include "filters/filter_rule.h"
#include "filters/filter_rule_list.h"
#include "engine/interface_record.h"
#include "model/traffic_model.h"
#include "output/conversation_export.h"
#include "output/conversation_text.h"
#include "output/log_writer.h"
#include "tests/capture_test_frames.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kRemoteHosts = 200;
constexpr int kFrames = 20000;
constexpr int32_t kFileStart = 1700000000;

int StressSeconds() {
  const char* text = std::getenv("STRESS_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 30;
}

// Request/response exchanges of 10.0.0.1 with 200 hosts on a few ports each,
// TCP and UDP, some of them IP fragments, over 20 seconds of capture time.
void WriteCaptureFile(const std::string& path) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
  ASSERT_NE(dumper, nullptr) << pcap_geterr(dead);
  std::mt19937 random(7);
  for (int i = 0; i < kFrames; ++i) {
    const int host = static_cast<int>(random() % kRemoteHosts);
    CTestPacket p;
    p.protocol = random() % 5 == 0 ? 17 : 6;
    const CIpAddr remote = CIpAddr(198, 51, static_cast<uint8_t>(100 + host / 250),
                                      static_cast<uint8_t>(1 + host % 250));
    const uint16_t remotePort = static_cast<uint16_t>(80 + random() % 8);
    const uint16_t localPort = static_cast<uint16_t>(40000 + host);
    const bool sent = random() % 2 == 0;
    p.source = sent ? CIpAddr(10, 0, 0, 1) : remote;
    p.destination = sent ? remote : CIpAddr(10, 0, 0, 1);
    p.sourcePort = sent ? localPort : remotePort;
    p.destinationPort = sent ? remotePort : localPort;
    p.payload = 1 + static_cast<int>(random() % 1400);
    p.seq = static_cast<uint32_t>(i);
    p.identification = static_cast<uint16_t>(i);
    if (random() % 50 == 0) p.flagsOffset = 0x2000;  // More Fragments
    const std::vector<uint8_t> frame = EthernetFrame(Ipv4Packet(p));
    pcap_pkthdr header{};
    header.ts.tv_sec = kFileStart + i / (kFrames / 20);
    header.ts.tv_usec = (i % (kFrames / 20)) * 50;
    header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
    pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame.data());
  }
  pcap_dump_close(dumper);
  pcap_close(dead);
}

// Starts and stops a capture thread that replays the file over and over, as
// the capture controller starts and stops a live one.
class CReplayController {
 public:
  CReplayController(CAppState& state, std::string path, const CInterfaceRecord& local)
      : state_(state), path_(std::move(path)), local_(local) {}
  ~CReplayController() { Stop(); }

  void Start() {
    Stop();
    keepGoing_.store(1);
    thread_ = std::thread([this] {
      while (keepGoing_.load() != 0) {
        const CReplayResult result = ReplayCaptureFile(state_, path_, local_, &keepGoing_);
        if (!result.Ok()) failures_.fetch_add(1);
        frames_.fetch_add(result.framesRecorded);
      }
    });
  }

  // Returns how long the capture thread took to end.
  Clock::duration Stop() {
    if (!thread_.joinable()) return {};
    const auto start = Clock::now();
    keepGoing_.store(0);
    thread_.join();
    return Clock::now() - start;
  }

  uint64_t FramesRecorded() const { return frames_.load(); }
  int Failures() const { return failures_.load(); }

 private:
  CAppState& state_;
  const std::string path_;
  const CInterfaceRecord& local_;
  std::atomic<int> keepGoing_{0};
  std::atomic<uint64_t> frames_{0};
  std::atomic<int> failures_{0};
  std::thread thread_;
};

// Every record a conversation holds carries its ConvId. Traffic lock held.
int CountMisfiledRecords(const CConversationTable& table) {
  int misfiled = 0;
  for (const auto& c : table.Conversations()) {
    for (const auto* list : {&c->sent, &c->received}) {
      for (const CPacketRef& r : *list) misfiled += r->convId != c->convId;
    }
  }
  return misfiled;
}

// What the refresh worker does to the model each cycle: the host list with
// ageing, the graph, the live trace text when new packets came, a log pass.
void RefreshCycle(CAppState& state, int cycle) {
  CTrafficModel& model = state.Model();
  std::lock_guard<std::mutex> traffic(state.trafficLock);
  int64_t newest = 0;
  for (const CHostRecord& h : model.hosts.Hosts()) newest = std::max<int64_t>(newest, h.lastTime.sec);
  std::vector<CIpAddr> aged;
  std::vector<CHostRecord> rows;
  for (const CHostRecord& h : model.hosts.Hosts()) {
    if (newest - h.lastTime.sec > 10) aged.push_back(h.address);
    rows.push_back(h);
  }
  for (const CIpAddr& a : aged) model.hosts.Remove(a);
  state.graphSampleTime.store(newest);
  model.RebuildGraph();
  if (model.newData != 0) {
    (void)RenderRecentPackets(model.recent, state.quit);
    model.newData = 0;
  }
  WriteLogs(model, cycle % 5 == 4, 1, 1, cycle % 2, newest);
}

class StressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("trafalyn-stress-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "logs");
    capture_ = (dir_ / "traffic.pcap").string();
    WriteCaptureFile(capture_);
    local_.AddAddress(10, 0, 0, 1);
    state_.logDir = (dir_ / "logs").string();
    state_.logToFile = 1;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // One step of the user-interface stand-in.
  void UserStep(int step, std::vector<std::weak_ptr<CPacketRecord>>& cleared) {
    CTrafficModel& model = state_.Model();
    switch (step % 6) {
      case 0: {  // Refresh the list, Show a few rows
        std::lock_guard<std::mutex> traffic(state_.trafficLock);
        const std::vector<CExportRow> rows = ConversationListRows(model.conversations);
        for (std::size_t i = 0; i < rows.size(); i += std::max<std::size_t>(1, rows.size() / 4)) {
          if (const CConversation* c = model.conversations.FindById(rows[i].convId))
            (void)RenderConversationText(*c, rows[i].direction, 1, 1, step % 2, state_.quit);
        }
        misfiled_ += CountMisfiledRecords(model.conversations);
        break;
      }
      case 1: {  // Conversations page Clear
        std::lock_guard<std::mutex> traffic(state_.trafficLock);
        for (const auto& c : model.conversations.Conversations())
          for (const CPacketRef& r : c->sent) cleared.push_back(r);
        model.conversations.Clear();
        break;
      }
      case 2: {  // Export of the first rows in one of the three formats
        std::lock_guard<std::mutex> traffic(state_.trafficLock);
        std::vector<CExportRow> rows = ConversationListRows(model.conversations);
        rows.resize(std::min<std::size_t>(rows.size(), 40));
        const CExportResult result =
            ExportConversations(model, (dir_ / "export.txt").string(), step % 3, rows);
        exportFailures_ += !result.opened;
        break;
      }
      case 3: {  // Host Stats refresh
        std::lock_guard<std::mutex> traffic(state_.trafficLock);
        std::vector<CHostRecord> rows(model.hosts.Hosts().begin(), model.hosts.Hosts().end());
        (void)rows;
        break;
      }
      case 4: {  // Host Stats Clear
        std::lock_guard<std::mutex> traffic(state_.trafficLock);
        std::lock_guard<std::mutex> graph(state_.graphLock);
        model.hosts.Clear();
        model.ClearRecent();
        break;
      }
      case 5: {  // Filter dialog OK: alternately no rules and an exclusion
        CFilterRuleList rules;
        if (step % 12 == 5) {
          rules.SetMode(CFilterRuleList::kExclude);
          rules.Append(CFilterRule(198, 51, 100, 7, 0));
          rules.Append(CFilterRule(0, 0, 0, 0, 81));
        }
        model.filterRules.Replace(std::move(rules));
        break;
      }
    }
  }

  fs::path dir_;
  std::string capture_;
  CAppState state_;
  CInterfaceRecord local_;
  int misfiled_ = 0;
  int exportFailures_ = 0;
};

TEST_F(StressTest, ThreeThreadsShareTheModel) {
  CReplayController capture(state_, capture_, local_);
  std::atomic<int> workerStop{0};
  std::thread worker([&] {
    for (int cycle = 0; workerStop.load() == 0; ++cycle) {
      RefreshCycle(state_, cycle);
      for (int i = 0; i < 10 && workerStop.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });

  std::vector<std::weak_ptr<CPacketRecord>> cleared;
  Clock::duration slowestStop{};
  int stops = 0;
  const auto end = Clock::now() + std::chrono::seconds(StressSeconds());
  auto nextToggle = Clock::now();
  bool capturing = false;
  for (int step = 0; Clock::now() < end; ++step) {
    if (Clock::now() >= nextToggle) {
      if (capturing) {
        slowestStop = std::max(slowestStop, capture.Stop());
        ++stops;
      } else {
        capture.Start();
      }
      capturing = !capturing;
      nextToggle += std::chrono::milliseconds(100);
    }
    UserStep(step, cleared);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  slowestStop = std::max(slowestStop, capture.Stop());
  workerStop.store(1);
  worker.join();

  std::printf("stress: %d s, %llu frames recorded, %d stops, slowest stop %lld ms\n",
              StressSeconds(), static_cast<unsigned long long>(capture.FramesRecorded()), stops,
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(slowestStop).count()));
  EXPECT_GT(capture.FramesRecorded(), 0u);
  EXPECT_EQ(capture.Failures(), 0);
  EXPECT_EQ(misfiled_, 0);
  EXPECT_EQ(exportFailures_, 0);
  EXPECT_GT(stops, 10);
  EXPECT_LT(slowestStop, std::chrono::milliseconds(1500));
  EXPECT_EQ(state_.logToFile.load(), 1) << "a log pass failed";
  for (const std::string& message : state_.notifications.TakeAll()) ADD_FAILURE() << message;

  // Quiet phase: no Clear, no ageing, no filter. One replay of the whole
  // file must add to the host table exactly what it adds to the sampler.
  CTrafficModel& model = state_.Model();
  model.filterRules.Replace(CFilterRuleList());
  auto totals = [&] {
    std::lock_guard<std::mutex> traffic(state_.trafficLock);
    std::array<uint64_t, 5> t{};
    for (const CHostRecord& h : model.hosts.Hosts()) {
      t[0] += h.bytesSent;
      t[1] += h.bytesReceived;
      t[2] += h.packetsSent + h.packetsReceived;
    }
    t[3] = std::accumulate(model.sampler.Sent().begin(), model.sampler.Sent().end(), uint64_t{0});
    t[4] = std::accumulate(model.sampler.Received().begin(), model.sampler.Received().end(),
                           uint64_t{0});
    return t;
  };
  const auto before = totals();
  const CReplayResult quiet = ReplayCaptureFile(state_, capture_, local_);
  const auto after = totals();
  ASSERT_TRUE(quiet.Ok()) << quiet.error;
  EXPECT_EQ(after[0] - before[0], after[3] - before[3]);
  EXPECT_EQ(after[1] - before[1], after[4] - before[4]);
  EXPECT_EQ(after[2] - before[2], quiet.framesRecorded);
  EXPECT_GT(quiet.framesRecorded, uint64_t{kFrames} / 2);

  // Every record held anywhere carries its conversation's ConvId; after
  // both Clears only the pending fragments keep records alive.
  std::lock_guard<std::mutex> traffic(state_.trafficLock);
  EXPECT_EQ(CountMisfiledRecords(model.conversations), 0);
  for (const CPacketRef& r : model.recent) {
    if (r->convId == 0) continue;
    if (const CConversation* c = model.conversations.FindById(r->convId)) {
      const auto& list = r->direction == kDirSent ? c->sent : c->received;
      const bool kept = std::find(list.begin(), list.end(), r) != list.end();
      // A direction that already held 300 records counts a record without
      // keeping it; otherwise the recent record must be in its conversation.
      EXPECT_TRUE(kept || list.size() == CConversation::kMaxRecordsPerDirection);
    }
  }
  for (const auto& c : model.conversations.Conversations())
    for (const CPacketRef& r : c->received) cleared.push_back(r);
  for (const CPacketRef& r : model.recent) cleared.push_back(r);
  model.conversations.Clear();
  {
    std::lock_guard<std::mutex> graph(state_.graphLock);
    model.ClearRecent();
  }
  int alive = 0;
  for (const auto& weak : cleared) {
    const CPacketRef r = weak.lock();
    if (!r) continue;
    const auto& pending = model.conversations.PendingFragments();
    if (std::find(pending.begin(), pending.end(), r) == pending.end()) ++alive;
  }
  EXPECT_EQ(alive, 0) << "records outlived every owner";
}

}  // namespace
