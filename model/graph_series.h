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
};

// The sampler's buckets followed by an empty bucket for each interval
// between the newest sample and `now` (seconds, by the session's clock); no
// buckets at all once the newest sample has scrolled out of the graph.
// Caller holds the traffic lock.
CGraphSeries BuildGraphSeries(const CTrafficSampler& sampler, int64_t now);

// Sets `maximum` to the full value of the scale that fits it and fills
// `labels` with the scale's axis labels.
void ChooseGraphScale(uint64_t& maximum, std::vector<std::string>& labels);
