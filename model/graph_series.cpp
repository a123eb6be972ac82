#include "model/graph_series.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

constexpr const char* kUnits[] = {"B", "KB", "MB", "GB"};

// `tenths` tenths of a unit: "1.5 MB", "2 GB".
std::string TenthsText(uint64_t tenths, const char* unit) {
  char buf[48];
  if (tenths % 10 == 0) {
    std::snprintf(buf, sizeof buf, "%llu %s", static_cast<unsigned long long>(tenths / 10), unit);
  } else {
    std::snprintf(buf, sizeof buf, "%llu.%llu %s", static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10), unit);
  }
  return buf;
}

}  // namespace

CGraphSeries BuildGraphSeries(const CTrafficSampler& sampler, int64_t now) {
  CGraphSeries g;
  const int64_t nowBucket = now / CTrafficSampler::kBucketSeconds;
  const int64_t n = nowBucket - sampler.LastBucket();
  g.newestStart = nowBucket * CTrafficSampler::kBucketSeconds;
  if (n < static_cast<int64_t>(CTrafficSampler::kMaxBuckets)) {
    const auto& s = sampler.Sent();
    const auto& r = sampler.Received();
    g.sent.reserve(s.size() + static_cast<std::size_t>(n > 0 ? n : 0));
    g.received.reserve(g.sent.capacity());
    for (std::size_t i = 0; i < s.size(); ++i) {
      g.sent.push_back(s[i]);
      g.received.push_back(r[i]);
      const uint64_t larger = s[i] > r[i] ? s[i] : r[i];
      if (larger > g.maximum) g.maximum = larger;
    }
    for (int64_t i = 0; i < n; ++i) {
      g.sent.push_back(0);
      g.received.push_back(0);
    }
    // A clock behind the newest sample (a late replay frame) draws up to
    // the sample, not up to the clock.
    if (n < 0 && !s.empty()) g.newestStart = int64_t{sampler.LastBucket()} * CTrafficSampler::kBucketSeconds;
  }
  ChooseGraphScale(g.maximum, g.labels);
  return g;
}

void ChooseGraphScale(uint64_t& maximum, std::vector<std::string>& labels) {
  labels.clear();
  // Full values in tenths of a unit; each divides by 5, so every label is a
  // whole number of tenths.
  static constexpr uint64_t kBytes[] = {1000, 2500, 5000, 10000};
  static constexpr uint64_t kLarger[] = {25, 50, 100, 250, 500, 1000, 2500, 5000, 10000};
  const auto pick = [&](uint64_t tenths, uint64_t unitBytes, const char* unit) {
    const uint64_t full = tenths * unitBytes / 10;
    if (maximum >= full) return false;
    maximum = full;
    for (uint64_t i = 1; i <= 5; ++i) labels.push_back(TenthsText(tenths * i / 5, unit));
    return true;
  };
  for (uint64_t t : kBytes) {
    if (pick(t, 1, kUnits[0])) return;
  }
  for (int u = 1; u <= 2; ++u) {
    for (uint64_t t : kLarger) {
      if (pick(t, uint64_t{1} << (10 * u), kUnits[u])) return;
    }
  }
  // Gigabytes go on in the same steps as far as 64 bits reach.
  constexpr uint64_t kGiB = uint64_t{1} << 30;
  for (uint64_t scale = 1; scale <= std::numeric_limits<uint64_t>::max() / (10000 * kGiB); scale *= 10) {
    for (uint64_t t : {uint64_t{25}, uint64_t{50}, uint64_t{100}}) {
      if (pick(t * scale, kGiB, kUnits[3])) return;
    }
  }
  // Beyond every scale the maximum itself is the full value.
  for (uint64_t i = 1; i <= 5; ++i) labels.push_back(FormatByteSize(maximum / 5 * i));
}

std::string FormatByteSize(uint64_t bytes) {
  if (bytes < 1000) return TenthsText(bytes * 10, kUnits[0]);
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (unit < 3 && value >= 1000) {
    value /= 1024;
    ++unit;
  }
  const uint64_t tenths = value < 9.95 ? static_cast<uint64_t>(std::llround(value * 10))
                                       : static_cast<uint64_t>(std::llround(value)) * 10;
  return TenthsText(tenths, kUnits[unit]);
}
