#include "model/traffic_sampler.h"

void CTrafficSampler::Update(uint64_t s, uint64_t r, CTimeStamp time) {
  const int b = time.sec / kBucketSeconds;
  if (lastBucket_ == 0) {
    sent_.push_back(s);
    received_.push_back(r);
    lastBucket_ = b;
    return;
  }
  const int64_t d = static_cast<int64_t>(b) - lastBucket_;
  if (d == 0) {
    if (sent_.empty()) {
      sent_.push_back(0);
      received_.push_back(0);
    }
    sent_.back() += s;
    received_.back() += r;
    return;
  }
  if (d > 0) {
    if (d > kMaxGap) {
      sent_.clear();
      received_.clear();
    }
    if (!sent_.empty()) {
      // Never more than 30 zero entries: larger gaps cleared the series above.
      for (int64_t i = 0; i < d - 1; ++i) {
        sent_.push_back(0);
        received_.push_back(0);
      }
    }
    sent_.push_back(s);
    received_.push_back(r);
    lastBucket_ = b;
    while (sent_.size() > kMaxBuckets) {
      sent_.pop_front();
      received_.pop_front();
    }
    return;
  }
  // A late packet goes into its own bucket while that bucket is still kept:
  // the newest entry is bucket lastBucket_, so bucket lastBucket_ + d sits at
  // index length - 1 + d.
  const int64_t back = -d;
  const int64_t length = static_cast<int64_t>(sent_.size());
  if (back <= kMaxGap && back < length) {
    sent_[static_cast<std::size_t>(length + d - 1)] += s;
    received_[static_cast<std::size_t>(length + d - 1)] += r;
  }
}
