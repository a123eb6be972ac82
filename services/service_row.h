#pragma once
#include <cstdint>
#include <optional>

#include "services/service_key.h"
#include "wire/time_stamp.h"

// Percentiles (nearest rank) and the maximum of one kind of time, seconds.
struct CLatencySummary {
  double p50 = 0;
  double p90 = 0;
  double p99 = 0;
  double max = 0;

  friend bool operator==(const CLatencySummary&, const CLatencySummary&) = default;
};

// One service as the Services page, the headless CSV and the JSON output
// show it. A plain value taken under the traffic lock; any thread after.
struct CServiceRow {
  CServiceKey key;
  uint64_t exchanges = 0;
  uint64_t unanswered = 0;  // one direction only: counted, never timed
  uint64_t bytesSent = 0;   // IP lengths, from the local host's view
  uint64_t bytesReceived = 0;
  // End of the opening direction to start of the reply. Empty without an
  // answered exchange.
  std::optional<CLatencySummary> firstAnswer;
  // First packet to last packet. Empty without an answered exchange, and
  // always in rows of a time range (the buckets keep no such times).
  std::optional<CLatencySummary> exchangeTime;
  // Last packet of the service's latest exchange, on the capture clock.
  CTimeStamp lastActivity;

  friend bool operator==(const CServiceRow&, const CServiceRow&) = default;
};

// Time to first answer of one service in one 5-second bucket.
struct CLatencyPoint {
  int64_t bucket = 0;     // floor(seconds / 5)
  uint64_t answered = 0;  // 0: no point to draw; p50 and p99 are 0
  double p50 = 0;         // seconds, within about 10%
  double p99 = 0;
};
