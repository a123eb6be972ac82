// The engine's threads at once for STRESS_SECONDS (default 30): replays
// started and stopped every 100 ms (each a session of its own, with logs
// written), a stand-in for the refresh worker, and a stand-in for the
// user-interface thread that lists, shows, clears, exports and replaces the
// filter rules. Meant to run under ThreadSanitizer and AddressSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "engine/traffic_engine.h"
#include "filters/filter_rule.h"
#include "output/conversation_text.h"
#include "tests/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrames = 20000;

int StressSeconds() {
  const char* text = std::getenv("STRESS_SECONDS");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 30;
}

// Request/response exchanges of 10.0.0.1 with 200 hosts on a few ports each,
// TCP and UDP, some of them IP fragments, over 20 seconds of capture time.
std::vector<CFrame> Traffic() {
  std::vector<CFrame> frames;
  std::mt19937 random(7);
  for (int i = 0; i < kFrames; ++i) {
    const int host = static_cast<int>(random() % 200);
    CTestPacket p;
    p.protocol = random() % 5 == 0 ? 17 : 6;
    p.destination = CIpAddr(198, 51, 100, static_cast<uint8_t>(1 + host));
    p.sourcePort = static_cast<uint16_t>(40000 + host);
    p.destinationPort = static_cast<uint16_t>(80 + random() % 8);
    if (random() % 2 == 0) {  // received
      std::swap(p.source, p.destination);
      std::swap(p.sourcePort, p.destinationPort);
    }
    p.payload = 1 + static_cast<int>(random() % 1400);
    p.seq = static_cast<uint32_t>(i);
    p.identification = static_cast<uint16_t>(i);
    if (random() % 50 == 0) p.flagsOffset = random() % 2 == 0 ? 0x2000 : 185;  // first or last
    frames.push_back({1700000000 + i / (kFrames / 20), EthernetFrame(Ipv4Packet(p))});
  }
  return frames;
}

class StressTest : public ::testing::Test {
 protected:
  StressTest() {
    WritePcap(capture, DLT_EN10MB, Traffic());
    mkdir(dir.File("logs").c_str(), 0700);
    engine->SetLogOptions({true, true, true, false, dir.File("logs")});
  }

  // One step of the user-interface stand-in.
  void UserStep(int step) {
    const std::shared_ptr<CCaptureSession> session = engine->Session();
    switch (step % 6) {
      case 0: {  // Refresh, then Show a few rows
        std::vector<CExportRow> keys;
        const auto rows = session->ConversationRows();
        for (std::size_t i = 0; i < rows.size(); i += std::max<std::size_t>(1, rows.size() / 4)) {
          keys.push_back(rows[i].row);
        }
        for (const CConversationCopy& c : session->CopyRows(keys)) {
          for (const CPacketRef& r : c.records) misfiled += r->convId != c.snapshot.convId;
          (void)RenderConversationText(c.records, {true, true, step % 12 == 0}, engine->Cancel());
          kept.push_back(c.records.empty() ? nullptr : c.records.front());
        }
        break;
      }
      case 1:
        session->ClearConversations();
        break;
      case 2: {  // Export of the first rows in one of the three forms
        std::vector<CExportRow> keys;
        for (const auto& r : session->ConversationRows()) keys.push_back(r.row);
        keys.resize(std::min<std::size_t>(keys.size(), 40));
        const CExportResult result = ExportConversations(
            dir.File("export.txt"), static_cast<EExportForm>(step % 3), session->CopyRows(keys),
            engine->Cancel());
        exportFailures += result.failed;
        break;
      }
      case 3:
        (void)session->Hosts(true);
        break;
      case 4:
        session->ClearHosts();
        break;
      case 5: {  // Filter dialog OK: alternately no rules and an exclusion
        CFilterRuleList rules;
        if (step % 12 == 5) {
          rules.SetMode(CFilterRuleList::kExclude);
          rules.Append(CFilterRule(198, 51, 100, 7, 0));
          rules.Append(CFilterRule(0, 0, 0, 0, 81));
        }
        engine->Filters().Replace(std::move(rules));
        if (step % 24 == 11) engine->Filters().ResetCounters();
        (void)engine->Filters().Report();  // the per-rule counts, while packets add to them
        break;
      }
    }
  }

  TempDir dir;
  const std::string capture = dir.File("traffic.pcap");
  const std::vector<CIpAddr> local{CIpAddr(10, 0, 0, 1)};
  std::unique_ptr<CTrafficEngine> engine = std::make_unique<CTrafficEngine>();
  int misfiled = 0;
  int exportFailures = 0;
  std::vector<std::weak_ptr<CPacketRecord>> kept;
};

TEST_F(StressTest, EngineThreadsShareTheSessions) {
  std::atomic<bool> workerStop{false};
  std::thread worker([&] {
    uint64_t seen = 0;
    std::string text;
    while (!workerStop.load()) {
      const std::shared_ptr<CCaptureSession> session = engine->Session();
      (void)session->Hosts(true);
      (void)session->Graph();
      (void)session->RecentPacketsText(seen, text);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });

  std::atomic<uint64_t> recorded{0};
  Clock::duration slowestStop{};
  int stops = 0;
  const auto end = Clock::now() + std::chrono::seconds(StressSeconds());
  auto nextToggle = Clock::now();
  bool replaying = false;
  for (int step = 0; Clock::now() < end; ++step) {
    if (Clock::now() >= nextToggle) {
      if (replaying) {
        const auto before = Clock::now();
        engine->StopReplay();
        slowestStop = std::max(slowestStop, Clock::now() - before);
        ++stops;
      } else {
        engine->StartReplay(capture, local, [&](const CReplayResult& r) { recorded += r.framesRecorded; });
      }
      replaying = !replaying;
      nextToggle += std::chrono::milliseconds(100);
    }
    UserStep(step);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  engine->StopReplay();
  workerStop = true;
  worker.join();

  std::printf("stress: %llu frames recorded, %d stops\n", static_cast<unsigned long long>(recorded.load()), stops);
  EXPECT_GT(recorded.load(), 0u);
  EXPECT_EQ(misfiled, 0);
  EXPECT_EQ(exportFailures, 0);
  EXPECT_GT(stops, 10);
  EXPECT_LT(slowestStop, std::chrono::milliseconds(1500));
  EXPECT_FALSE(engine->Logs().Failed());
  for (const std::string& message : engine->Notifications().TakeAll()) ADD_FAILURE() << message;

  // Quiet: one whole replay adds to the host table exactly what it adds to
  // the sampler.
  engine->Filters().Replace(CFilterRuleList());
  const CReplayResult quiet = engine->Replay(capture, local, nullptr);
  ASSERT_TRUE(quiet.Ok()) << quiet.error;
  engine->Session()->WithModel([&](const CTrafficModel& m) {
    uint64_t hostBytes = 0, hostPackets = 0, sampled = 0;
    for (const CHostRecord& h : m.hosts.Hosts()) {
      hostBytes += h.bytesSent + h.bytesReceived;
      hostPackets += h.packetsSent + h.packetsReceived;
    }
    for (std::size_t i = 0; i < m.sampler.Sent().size(); ++i) sampled += m.sampler.Sent()[i] + m.sampler.Received()[i];
    EXPECT_EQ(hostBytes, sampled);
    EXPECT_EQ(hostPackets, quiet.framesRecorded);
    return 0;
  });

  // Once the engine lets its sessions go, no record outlives them.
  engine.reset();
  EXPECT_TRUE(std::all_of(kept.begin(), kept.end(), [](const auto& weak) { return weak.expired(); }));
}

}  // namespace
