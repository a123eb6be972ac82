#include "desktop/range/time_range_selection.h"

#include <QDateTime>

#include "model/traffic_sampler.h"

CTimeRangeSelection::CTimeRangeSelection(std::function<CNow()> now, QObject* parent)
    : QObject(parent), now_(std::move(now)) {
  connect(&tick_, &QTimer::timeout, this, &CTimeRangeSelection::Check);
  tick_.start(1000);
}

std::optional<CTimeRange> CTimeRangeSelection::Range() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return range_;
}

void CTimeRangeSelection::Set(const CTimeRange& range) {
  if (range.toBucket <= range.fromBucket) return Clear();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (range_ == range) return;
    range_ = range;
  }
  sessionId_ = now_().sessionId;
  emit Changed();
}

void CTimeRangeSelection::Clear() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!range_) return;
    range_.reset();
  }
  emit Changed();
}

QString CTimeRangeSelection::Text(const CTimeRange& range) {
  const auto clock = [](int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("HH:mm:ss"));
  };
  return clock(range.StartSeconds()) + QChar(0x2013) + clock(range.EndSeconds());
}

void CTimeRangeSelection::Check() {
  const std::optional<CTimeRange> range = Range();
  if (!range) return;
  const CNow now = now_();
  const int64_t oldestShown = now.bucket - static_cast<int64_t>(CTrafficSampler::kMaxBuckets) + 1;
  if (now.sessionId != sessionId_ || range->toBucket <= oldestShown) Clear();
}
