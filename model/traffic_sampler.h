#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>

#include "wire/time_stamp.h"

// Bytes sent and received in 5-second buckets of capture time; the newest 40
// buckets stay. Every operation requires the traffic lock.
class CTrafficSampler {
 public:
  static constexpr int kBucketSeconds = 5;
  static constexpr std::size_t kMaxBuckets = 40;
  static constexpr int kMaxGap = 30;  // a longer silence starts the series anew


  void Update(uint64_t bytesSent, uint64_t bytesReceived, CTimeStamp time);

  const std::deque<uint64_t>& Sent() const { return sent_; }
  const std::deque<uint64_t>& Received() const { return received_; }
  // Bucket number (seconds / 5) of the newest entry; 0 before the first sample.
  int LastBucket() const { return lastBucket_; }

 private:
  std::deque<uint64_t> sent_;
  std::deque<uint64_t> received_;
  int lastBucket_ = 0;
};
