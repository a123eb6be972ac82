#pragma once
#include <atomic>
#include <cstdint>

class CAppState;
class CInterfaceRecord;

// Which clock is "now" for the decoder's periodic log pass.
enum class EDecodeClock {
  kWall,     // a live trace: the system clock
  kCapture,  // replaying a file: the newest time stamp read from it
};

// What one run of the decoder (a live trace, or the replay of a file) shares
// across packets: the state and model it records into, the interface whose
// addresses tell sent from received, the flag that ends recording and the
// clock of the log pass.
//
// Used by one thread at a time (the capture thread, or the thread replaying
// a file). The referenced objects must outlive the context.
class CDecodeContext {
 public:
  CDecodeContext(CAppState& state, const CInterfaceRecord& local,
                 const std::atomic<int>& running, EDecodeClock clock)
      : state(state), local(local), running(running), clock(clock) {}
  virtual ~CDecodeContext() = default;

  // Seconds since 1970 by this context's clock.
  int64_t Now() const { return clock == EDecodeClock::kWall ? wallClock() : captureNow; }

  // Moves the capture clock to a frame's time stamp; never backwards, so a
  // file whose frames are out of order cannot run the log pass early.
  void AdvanceCaptureClock(int64_t seconds) {
    if (seconds > captureNow) captureNow = seconds;
  }

  CAppState& state;
  const CInterfaceRecord& local;
  // Frames are dropped while this is 0 (the controller's running flag).
  const std::atomic<int>& running;
  const EDecodeClock clock;
  // The wall clock; tests replace it.
  int64_t (*wallClock)() = &SystemSeconds;
  // Newest frame time stamp read (seconds); used by EDecodeClock::kCapture.
  int64_t captureNow = 0;

  static int64_t SystemSeconds();
};
