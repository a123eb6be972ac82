#include "model/traffic_model.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "engine/app_state.h"

CTrafficModel::CTrafficModel(CAppState& state)
    : conversations(state), lastFlushTime(static_cast<int64_t>(std::time(nullptr))), state_(state) {}

CPacketRef CTrafficModel::Record(const CPacketFields& f, std::span<const uint8_t> available) {
  const uint64_t length = static_cast<uint32_t>(f.totalLength);
  const uint64_t sent = f.direction == kDirSent ? length : 0;
  const uint64_t received = f.direction == kDirSent ? 0 : length;
  hosts.Update(sent, received, f.remote, f.remotePort, f.time);
  sampler.Update(sent, received, f.time);
  CPacketRef r = MakePacketRecord(f, state_.headerOnly.load(std::memory_order_relaxed) != 0,
                                  available);
  conversations.FilePacket(r);
  recent.push_back(r);
  newData = 1;
  return r;
}

void CTrafficModel::TrimRecent() {
  if (recent.size() <= kMaxRecent) return;
  recent.erase(recent.begin(), recent.begin() + (recent.size() - kTrimmedRecent));
}

void CTrafficModel::ClearRecent() {
  std::deque<CPacketRef>().swap(recent);
}

void CTrafficModel::RebuildGraph() {
  std::lock_guard<std::mutex> graph(state_.graphLock);
  graphMaximum = 0;
  graphSent.clear();
  graphReceived.clear();
  const int64_t n = state_.graphSampleTime.load() / CTrafficSampler::kBucketSeconds -
                    sampler.LastBucket();
  if (n < static_cast<int64_t>(CTrafficSampler::kMaxBuckets)) {
    const auto& s = sampler.Sent();
    const auto& r = sampler.Received();
    for (std::size_t i = 0; i < s.size(); ++i) {
      graphSent.push_back(s[i]);
      graphReceived.push_back(r[i]);
      const uint64_t larger = s[i] > r[i] ? s[i] : r[i];
      if (larger > graphMaximum) graphMaximum = larger;
    }
    for (int64_t i = 0; i < n; ++i) {
      graphSent.push_back(0);
      graphReceived.push_back(0);
    }
  }
  ChooseGraphScale(graphMaximum, scaleLabels);
}

void ChooseGraphScale(uint64_t& maximum, std::vector<std::string>& labels) {
  struct Row {
    uint64_t full;
    int labels[5];
    const char* format;
  };
  static constexpr Row kScale[] = {
      {100, {20, 40, 60, 80, 100}, "%d B."},
      {500, {100, 200, 300, 400, 500}, "%d B."},
      {1000, {200, 400, 600, 800, 1000}, "%d B."},
      {5120, {1, 2, 3, 4, 5}, "%d KB"},
      {10240, {2, 4, 6, 8, 10}, "%d KB"},
      {51200, {10, 20, 30, 40, 50}, "%d KB"},
      {102400, {20, 40, 60, 80, 100}, "%d KB"},
      {512000, {100, 200, 300, 400, 500}, "%d KB"},
      {1048576, {200, 400, 600, 800, 1000}, "%d KB"},
      {10485760, {2, 4, 6, 8, 10}, "%d MB"},
      {104857600, {20, 40, 60, 80, 100}, "%d MB"},
      {1073741824, {200, 400, 600, 800, 1000}, "%d MB"},
  };
  labels.clear();
  char buf[32];
  for (const Row& row : kScale) {
    if (maximum < row.full) {
      maximum = row.full;
      for (int v : row.labels) {
        std::snprintf(buf, sizeof buf, row.format, v);
        labels.emplace_back(buf);
      }
      return;
    }
  }
  // Beyond 1 GiB the maximum stays as it is, with two labels at half and
  // full height, each rounded to the nearest whole GB.
  constexpr uint64_t kGiB = 1073741824ull;
  const uint64_t half = maximum / 2;
  const uint64_t values[2] = {(half + kGiB / 2) / kGiB, (maximum + kGiB / 2) / kGiB};
  for (uint64_t v : values) {
    std::snprintf(buf, sizeof buf, "%d GB", static_cast<int>(v));
    labels.emplace_back(buf);
  }
}
