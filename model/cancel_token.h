#pragma once
#include <atomic>

// Tells long loops (a fragment's search, trimming, rendering, table walks)
// to end early because the program is closing. Set once, never cleared. Any
// thread.
class CCancelToken {
 public:
  void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }
  bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> cancelled_{false};
};
