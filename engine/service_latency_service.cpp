#include "engine/service_latency_service.h"

#include "engine/capture_session.h"

void CServiceLatencyService::Attach(CCaptureSession& session) {
  const int id = session.Id();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    table_.Clear();
    sessionId_ = id;
  }
  session.AddFinalConsumer(
      [this, id](const CConversationSnapshot& s) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (id == sessionId_) table_.Add(s);
      },
      [this] { return enabled_.load(std::memory_order_relaxed); });
}

std::vector<CServiceRow> CServiceLatencyService::Rows() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return table_.Rows();
}

std::vector<CServiceRow> CServiceLatencyService::RangeRows(const CTimeRange& range,
                                                           int64_t nowBucket) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return table_.RangeRows(range.fromBucket, range.toBucket, nowBucket);
}

uint64_t CServiceLatencyService::Dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return table_.Dropped();
}

std::vector<CLatencyPoint> CServiceLatencyService::LatencyStrip(const CServiceKey& key,
                                                                int64_t nowBucket) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return table_.LatencyStrip(key, nowBucket);
}
