#include "model/graph_series.h"

#include <cstdio>

CGraphSeries BuildGraphSeries(const CTrafficSampler& sampler, int64_t now) {
  CGraphSeries g;
  const int64_t n = now / CTrafficSampler::kBucketSeconds - sampler.LastBucket();
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
  }
  ChooseGraphScale(g.maximum, g.labels);
  return g;
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
  // full height. Below 10 GB they carry one decimal: whole GB would label
  // both lines of a 1.2 GB maximum "1 GB".
  constexpr double kGiB = 1073741824.0;
  for (uint64_t v : {maximum / 2, maximum}) {
    const double gb = static_cast<double>(v) / kGiB;
    if (gb < 9.95) {
      std::snprintf(buf, sizeof buf, "%.1f GB", gb);
    } else {
      std::snprintf(buf, sizeof buf, "%.0f GB", gb);
    }
    labels.emplace_back(buf);
  }
}
