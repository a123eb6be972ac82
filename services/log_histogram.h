#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "services/latency_scale.h"

// A histogram of latency times in fixed memory: one counter of type Counter
// per bucket of Scale, plus the exact count, minimum and maximum. Times are
// seconds at the interface and whole microseconds inside; 0 (and anything
// negative) counts in the zero bucket, times above one hour as one hour.
//
// Percentiles are nearest rank: the smallest recorded time with at least p%
// of the times at or below it, returned within Scale::kRelativeError of that
// time (the representative of its bucket, kept within the exact minimum and
// maximum). A bucket counter stops at the largest Counter (2^32 - 1 times in
// one bucket for CLatencyHistogram, 65,535 for the coarse one); the exact
// count goes on.
//
// A plain value without locks: its owner's lock guards it.
template <class Scale, class Counter>
class CLogHistogram {
 public:
  static constexpr std::size_t kBuckets = Scale::kBuckets;

  void Record(double seconds) {
    const uint64_t micros = Scale::ToMicros(seconds);
    const std::size_t i = Scale::Index(micros);
    if (counts_[i] != std::numeric_limits<Counter>::max()) ++counts_[i];
    Widen(micros, micros, i, i);
    ++count_;
  }

  // Adds every time `other` holds, as if recorded here. A counter that
  // would pass its largest value stops there.
  template <class OtherCounter>
  void Add(const CLogHistogram<Scale, OtherCounter>& other) {
    if (other.count_ == 0) return;
    for (std::size_t i = other.low_; i <= other.high_; ++i) {
      const uint64_t sum = uint64_t{counts_[i]} + other.counts_[i];
      counts_[i] = static_cast<Counter>(std::min<uint64_t>(sum, std::numeric_limits<Counter>::max()));
    }
    Widen(other.minMicros_, other.maxMicros_, other.low_, other.high_);
    count_ += other.count_;
  }

  void Clear() {
    if (count_ != 0) std::fill(counts_.begin() + low_, counts_.begin() + high_ + 1, Counter{0});
    count_ = 0;
  }

  // Exact: every Record, counters that stopped included.
  uint64_t Count() const { return count_; }
  // Exact, in seconds; 0 while empty.
  double Min() const { return count_ != 0 ? minMicros_ / 1e6 : 0.0; }
  double Max() const { return count_ != 0 ? maxMicros_ / 1e6 : 0.0; }

  // The nearest-rank percentile `p` (0 to 100) in seconds; 0 while empty.
  double Percentile(double p) const {
    double out = 0;
    Percentiles(std::span<const double>(&p, 1), std::span<double>(&out, 1));
    return out;
  }

  // Several percentiles in one pass over the buckets; `ps` ascending,
  // `out` as long as `ps`.
  void Percentiles(std::span<const double> ps, std::span<double> out) const {
    std::fill(out.begin(), out.end(), 0.0);
    if (count_ == 0) return;
    uint64_t weight = 0;
    for (std::size_t i = low_; i <= high_; ++i) weight += counts_[i];
    std::size_t next = 0;
    uint64_t below = 0;
    for (std::size_t i = low_; i <= high_ && next < ps.size(); ++i) {
      below += counts_[i];
      while (next < ps.size() && below >= Rank(ps[next], weight)) {
        const double micros = std::clamp(Scale::Representative(i), static_cast<double>(minMicros_),
                                         static_cast<double>(maxMicros_));
        out[next++] = micros / 1e6;
      }
    }
  }

 private:
  template <class, class>
  friend class CLogHistogram;

  // The 1-based rank of percentile `p` among `weight` times. The small
  // allowance keeps p * weight / 100 from rounding up past a whole rank.
  static uint64_t Rank(double p, uint64_t weight) {
    const double bounded = p > 0 ? std::min(p, 100.0) : 0.0;  // NaN too
    const double exact = bounded * static_cast<double>(weight) / 100.0;
    const auto rank = static_cast<uint64_t>(std::ceil(exact - 1e-9));
    return std::clamp<uint64_t>(rank, 1, weight);
  }

  void Widen(uint64_t minMicros, uint64_t maxMicros, std::size_t low, std::size_t high) {
    if (count_ == 0) {
      minMicros_ = static_cast<uint32_t>(minMicros);
      maxMicros_ = static_cast<uint32_t>(maxMicros);
      low_ = static_cast<uint16_t>(low);
      high_ = static_cast<uint16_t>(high);
      return;
    }
    minMicros_ = std::min(minMicros_, static_cast<uint32_t>(minMicros));
    maxMicros_ = std::max(maxMicros_, static_cast<uint32_t>(maxMicros));
    low_ = std::min(low_, static_cast<uint16_t>(low));
    high_ = std::max(high_, static_cast<uint16_t>(high));
  }

  static_assert(Scale::kMaxMicros <= std::numeric_limits<uint32_t>::max());
  static_assert(Scale::kBuckets <= std::numeric_limits<uint16_t>::max());

  std::array<Counter, kBuckets> counts_{};
  uint64_t count_ = 0;
  // Valid while count_ > 0: the exact extremes and the buckets between
  // which every non-zero counter lies, so that walks and clears skip the
  // empty ends.
  uint32_t minMicros_ = 0;
  uint32_t maxMicros_ = 0;
  uint16_t low_ = 0;
  uint16_t high_ = 0;
};

// All-time times of one service: 966 buckets, within 1%, 3.9 KB.
using CLatencyHistogram = CLogHistogram<CFineLatencyScale, uint32_t>;
// Times of one service in one 5-second bucket: 107 buckets, within 10%,
// 240 bytes.
using CCoarseLatencyHistogram = CLogHistogram<CCoarseLatencyScale, uint16_t>;
// Coarse histograms added up over a range of buckets.
using CCoarseLatencySum = CLogHistogram<CCoarseLatencyScale, uint32_t>;
