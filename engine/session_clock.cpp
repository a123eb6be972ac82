#include "engine/session_clock.h"

#include <ctime>

int64_t CSessionClock::SystemSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

int64_t CSessionClock::Now() const {
  if (kind_ == EKind::kCapture) return captureNow_.load(std::memory_order_relaxed);
  return wall_();
}
