#pragma once
#include <cstdint>

#include "model/bucket_ring.h"
#include "wire/time_stamp.h"

// A stretch of the traffic graph: its 5-second buckets [fromBucket,
// toBucket), on the session's clock. A plain value the screens pass down.
struct CTimeRange {
  int64_t fromBucket = 0;
  int64_t toBucket = 0;

  int64_t StartSeconds() const { return fromBucket * kTimeBucketSeconds; }
  int64_t EndSeconds() const { return toBucket * kTimeBucketSeconds; }

  // Whether anything happened inside the range between `first` and `last`
  // (both inclusive): a conversation that began before the range and ended
  // in it, or spans all of it, is inside too.
  bool Overlaps(const CTimeStamp& first, const CTimeStamp& last) const {
    return first.sec < EndSeconds() && last.sec >= StartSeconds();
  }

  friend bool operator==(const CTimeRange&, const CTimeRange&) = default;
};
