#pragma once
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

// The traffic graph's time buckets: bucket = floor(seconds / 5), seconds on
// the session's clock (capture time in a replay, wall-clock time live).
constexpr int64_t kTimeBucketSeconds = 5;
constexpr int64_t TimeBucket(int64_t seconds) {
  return seconds >= 0 ? seconds / kTimeBucketSeconds
                      : -((-seconds + kTimeBucketSeconds - 1) / kTimeBucketSeconds);
}

// One T per time bucket for the newest N buckets (40 buckets: 200 seconds),
// in fixed memory. The ring moves forward when a newer bucket is touched or
// when Advance is told the clock moved; a bucket N or more behind the
// newest has scrolled out and has no cell. A cell is cleared to T{} when
// its bucket is first touched, so neither moving forward nor Clear writes
// the cells themselves.
//
// A plain value without locks: its owner's lock guards it. T is a
// default-constructible value type whose T{} means "nothing counted".
template <class T, std::size_t N = 40>
class CBucketRing {
 public:
  static constexpr std::size_t kBuckets = N;
  static constexpr int64_t kNone = std::numeric_limits<int64_t>::min();

  CBucketRing() { owners_.fill(kNone); }

  // The cell of `bucket`, after moving the ring forward to it if it is
  // newer than the newest; null when it has scrolled out.
  T* Cell(int64_t bucket) {
    // Nearly every packet falls into the newest bucket, already opened.
    if (bucket == newest_ && owners_[newestSlot_] == bucket) return &cells_[newestSlot_];
    Advance(bucket);
    if (!InWindow(bucket)) return nullptr;
    const std::size_t slot = Slot(bucket);
    if (owners_[slot] != bucket) {
      cells_[slot] = T{};
      owners_[slot] = bucket;
    }
    return &cells_[slot];
  }

  // Makes `bucket` the newest if it is newer.
  void Advance(int64_t bucket) {
    if (bucket <= newest_) return;
    newest_ = bucket;
    newestSlot_ = Slot(bucket);
  }

  // The cell of `bucket` if the ring holds it; never moves the ring.
  const T* Find(int64_t bucket) const {
    return InWindow(bucket) && owners_[Slot(bucket)] == bucket ? &cells_[Slot(bucket)] : nullptr;
  }

  // Calls f(bucket, cell) oldest first for every bucket in [from, to) that
  // the ring holds and that is among the N buckets ending at `now`: a bucket
  // that scrolled out of the clock's window is left out even while this ring
  // has not moved past it (nothing touched it since).
  template <class F>
  void ForEach(int64_t from, int64_t to, int64_t now, F&& f) const {
    if (newest_ == kNone) return;
    const int64_t window = static_cast<int64_t>(N);
    const int64_t first = std::max({from, now - window + 1, newest_ - window + 1});
    const int64_t end = std::min(to, newest_ + 1);
    for (int64_t b = first; b < end; ++b) {
      if (owners_[Slot(b)] == b) f(b, cells_[Slot(b)]);
    }
  }

  // The newest bucket touched or advanced to, or kNone.
  int64_t Newest() const { return newest_; }

  void Clear() {
    owners_.fill(kNone);
    newest_ = kNone;
  }

 private:
  bool InWindow(int64_t bucket) const {
    return newest_ != kNone && bucket <= newest_ && bucket > newest_ - static_cast<int64_t>(N);
  }
  static std::size_t Slot(int64_t bucket) {
    const int64_t n = static_cast<int64_t>(N);
    return static_cast<std::size_t>(((bucket % n) + n) % n);
  }

  std::array<T, N> cells_{};
  std::array<int64_t, N> owners_;  // the bucket each cell holds, or kNone
  int64_t newest_ = kNone;
  std::size_t newestSlot_ = 0;  // Slot(newest_)
};
