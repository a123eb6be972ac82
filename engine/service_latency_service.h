#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "services/service_row.h"
#include "model/time_range.h"
#include "services/service_table.h"

class CCaptureSession;

// The latency of every service in the session the pages show, built from
// each exchange as it becomes final. While nobody reads the figures (the
// headless program without an output that wants them) the sessions make no
// snapshot for it, so the capture path pays nothing.
//
// What runs under the traffic lock is one short lock here and the table's
// Add. Attach belongs to the engine's owning thread; the rest to any.
class CServiceLatencyService {
 public:
  CServiceLatencyService() = default;
  CServiceLatencyService(const CServiceLatencyService&) = delete;
  CServiceLatencyService& operator=(const CServiceLatencyService&) = delete;

  // Off, exchanges that become final are not counted.
  void SetEnabled(bool on) { enabled_.store(on, std::memory_order_relaxed); }
  bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }

  // From now on the figures are those of `session` alone: a new session
  // starts them anew, and late exchanges of an older one are ignored.
  void Attach(CCaptureSession& session);

  std::vector<CServiceRow> Rows() const;
  // The services with exchanges inside `range`, their figures those of the
  // range: counts from the buckets, times to first answer within about 10%.
  std::vector<CServiceRow> RangeRows(const CTimeRange& range, int64_t nowBucket) const;
  uint64_t Dropped() const;
  std::vector<CLatencyPoint> LatencyStrip(const CServiceKey& key, int64_t nowBucket) const;

 private:
  mutable std::mutex mutex_;  // guards the table and the session id; never held while waiting
  CServiceTable table_;
  int sessionId_ = 0;
  std::atomic<bool> enabled_{false};
};
