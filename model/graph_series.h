#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "model/traffic_sampler.h"

// What the traffic graph draws: bytes sent and received per 5-second
// interval, oldest first, up to the graph's "now", with the full-scale value
// and the scale's axis labels (lowest first). A plain value that travels
// from the refresh worker to the painter.
struct CGraphSeries {
  std::vector<uint64_t> sent;
  std::vector<uint64_t> received;
  uint64_t maximum = 0;
  std::vector<std::string> labels;
  // Where the newest entry's interval begins, in seconds of the session's
  // clock (the interval of "now" while there are no entries): the time axis
  // counts back from it, kBucketSeconds per entry.
  int64_t newestStart = 0;
};

// The sampler's buckets followed by an empty bucket for each interval
// between the newest sample and `now` (seconds, by the session's clock); no
// buckets at all once the newest sample has scrolled out of the graph.
// Caller holds the traffic lock.
CGraphSeries BuildGraphSeries(const CTrafficSampler& sampler, int64_t now);

// Sets `maximum` to the full value of the first scale above it (100 B,
// 250 B, 500 B, 1000 B, 2.5 KB, 5 KB, 10 KB, 25 KB, ... 1000 KB, 2.5 MB, ...
// 1000 MB, 2.5 GB, 5 GB, 10 GB, 25 GB, ...; 1 KB = 1024 B) and fills `labels`
// with the values at a fifth, two fifths ... and all of it: "20 B", "1.5 MB",
// "2 GB".
void ChooseGraphScale(uint64_t& maximum, std::vector<std::string>& labels);

// A byte count as people read it: "100 B", "9.5 KB", "120 MB", "2 GB"
// (1 KB = 1024 B; one decimal below 10 of a unit, none when it is 0).
std::string FormatByteSize(uint64_t bytes);
