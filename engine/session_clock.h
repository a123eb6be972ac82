#pragma once
#include <atomic>
#include <cstdint>

// The one clock of a capture session. A live trace runs on the wall clock;
// a replay on the capture clock: the newest frame time read so far, which
// stays at the file's last time once the file has ended. The graph's "now",
// host ageing, the log pass's due rules and the log file stamps all ask it.
//
// Now may be called from any thread; Advance only by the replaying thread.
class CSessionClock {
 public:
  enum class EKind : uint8_t { kWall, kCapture };

  using WallClock = int64_t (*)();

  // `wall` reads the wall clock in seconds; tests give their own.
  explicit CSessionClock(EKind kind, WallClock wall = &SystemSeconds) : kind_(kind), wall_(wall) {}

  static int64_t SystemSeconds();

  EKind Kind() const { return kind_; }

  // Seconds since 1970.
  int64_t Now() const;

  // Moves the capture clock to a frame's time stamp; never backwards, so a
  // file whose frames are out of order cannot run the log pass early.
  void Advance(int64_t seconds) {
    if (seconds > captureNow_.load(std::memory_order_relaxed)) {
      captureNow_.store(seconds, std::memory_order_relaxed);
    }
  }

 private:
  const EKind kind_;
  const WallClock wall_;
  std::atomic<int64_t> captureNow_{0};
};
