#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

// The buckets of a latency histogram over whole microseconds from 0 to one
// hour: bucket 0 holds 0 alone, buckets 1 .. ExactBelow - 1 hold one
// microsecond each, and from ExactBelow on each bucket's lower bound is the
// previous one times RatioNum / RatioDen (rounded up to a whole
// microsecond). Any time in a bucket lies within
// (ratio - 1) / (ratio + 1) of the bucket's representative, relative to
// the time. Pure and stateless; any thread.
template <uint64_t ExactBelow, uint64_t RatioNum, uint64_t RatioDen>
class CLatencyScale {
  // Declared first: the constant tables below are computed with them.
  // Bounds must grow by at least one microsecond from the first log bucket
  // on, or two buckets would share a lower bound.
  static_assert(RatioNum > RatioDen && ExactBelow * (RatioNum - RatioDen) >= RatioDen);

  static constexpr double Grow(double bound) {
    return bound * static_cast<double>(RatioNum) / static_cast<double>(RatioDen);
  }
  static constexpr uint64_t CeilMicros(double bound) {
    const auto whole = static_cast<uint64_t>(bound);
    return static_cast<double>(whole) < bound ? whole + 1 : whole;
  }

 public:
  // One hour in microseconds: the largest time a histogram holds.
  static constexpr uint64_t kMaxMicros = 3'600'000'000;

  // The error bound, relative to the time.
  static constexpr double kRelativeError =
      static_cast<double>(RatioNum - RatioDen) / static_cast<double>(RatioNum + RatioDen);

  static constexpr std::size_t kBuckets = [] {
    std::size_t n = ExactBelow;
    for (double bound = ExactBelow; CeilMicros(bound) <= kMaxMicros; bound = Grow(bound)) ++n;
    return n;
  }();

  // `seconds` in whole microseconds, rounded to the nearest; 0 for
  // negative times and NaN; times above one hour count as one hour.
  static uint64_t ToMicros(double seconds) {
    if (!(seconds > 0)) return 0;
    if (seconds >= kMaxMicros / 1e6) return kMaxMicros;
    return std::min<uint64_t>(static_cast<uint64_t>(std::llround(seconds * 1e6)), kMaxMicros);
  }

  // The bucket of `micros` (at most kMaxMicros).
  static std::size_t Index(uint64_t micros) {
    if (micros < ExactBelow) return static_cast<std::size_t>(micros);
    // The logarithm lands on the bucket or next to it (the bounds were
    // rounded up to whole microseconds); the table settles it. A binary
    // search costs ten hard-to-predict branches instead.
    const double steps = std::log(static_cast<double>(micros) / ExactBelow) / kLogRatio;
    std::size_t i = std::min(ExactBelow + static_cast<std::size_t>(steps), kBuckets - 1);
    while (kLowest[i] > micros) --i;
    while (i + 1 < kBuckets && kLowest[i + 1] <= micros) ++i;
    return i;
  }

  // The smallest and the largest time of bucket `i`, in microseconds.
  static uint64_t Lowest(std::size_t i) { return kLowest[i]; }
  static uint64_t Highest(std::size_t i) {
    return i + 1 < kBuckets ? kLowest[i + 1] - 1 : kMaxMicros;
  }

  // The time that stands for bucket `i`, in microseconds: the point whose
  // relative distance to both ends is the same.
  static double Representative(std::size_t i) {
    const double low = static_cast<double>(Lowest(i));
    const double high = static_cast<double>(Highest(i));
    return low + high > 0 ? 2 * low * high / (low + high) : 0.0;
  }

 private:
  static inline const double kLogRatio =
      std::log(static_cast<double>(RatioNum) / static_cast<double>(RatioDen));

  static constexpr std::array<uint64_t, kBuckets> kLowest = [] {
    std::array<uint64_t, kBuckets> lowest{};
    for (std::size_t i = 0; i < ExactBelow; ++i) lowest[i] = i;
    double bound = ExactBelow;
    for (std::size_t i = ExactBelow; i < kBuckets; ++i, bound = Grow(bound))
      lowest[i] = CeilMicros(bound);
    return lowest;
  }();
};

// 966 buckets, at most 0.99% error.
using CFineLatencyScale = CLatencyScale<64, 51, 50>;
// 107 buckets, at most 10% error.
using CCoarseLatencyScale = CLatencyScale<5, 11, 9>;
