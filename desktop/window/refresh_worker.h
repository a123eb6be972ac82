#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

// What one cycle of the refresh worker asks of the Host Stats page.
struct CHostStatsTick {
  // More than 3 seconds have passed since the last list refresh: refresh the
  // host list, and the graph or the live trace view, whichever is shown.
  bool listDue = false;
  // The first call since the worker started: rebuild the graph regardless.
  bool firstGraph = false;
};

// The main window's background thread: a one-second cycle at the lowest
// priority that drives the Host Stats page while it is shown (at most every
// 4 seconds) and the status line.
//
// It never touches a widget: the Host Stats job and the cycle hook run on
// this thread and must hand their results to the user-interface thread with
// queued calls, never waiting for it. It holds no lock while it calls them.
class CRefreshWorker {
 public:
  CRefreshWorker() = default;
  // Stops and joins the thread.
  ~CRefreshWorker();

  CRefreshWorker(const CRefreshWorker&) = delete;
  CRefreshWorker& operator=(const CRefreshWorker&) = delete;

  // Called on the worker thread, no lock held, on each cycle in which the
  // Host Stats page is shown and there is work (listDue or firstGraph). Any
  // thread; takes effect at the next cycle.
  void SetHostStatsJob(std::function<void(const CHostStatsTick&)> job);
  // Called on the worker thread at the end of every cycle, no lock held.
  void SetCycleHook(std::function<void()> hook);

  // User-interface thread: whether the Host Stats tab is the current one.
  void SetHostStatsShown(bool shown) { hostStatsShown_.store(shown ? 1 : 0); }

  void Start();
  // Ends the thread without waiting out its sleep and joins it. Idempotent.
  void Stop();

  // Cycle length, shortened by tests.
  void SetCycleMillis(int millis) { cycleMillis_ = millis; }

 private:
  void Run();
  void RunCycle(std::chrono::steady_clock::time_point& lastListRefresh, bool& firstGraph);
  // Sleeps one cycle; false when the worker is to end.
  bool Sleep();

  std::atomic<int> hostStatsShown_{0};
  int cycleMillis_ = 1000;

  std::mutex mutex_;  // guards everything below
  std::condition_variable wake_;
  bool stopping_ = false;
  std::function<void(const CHostStatsTick&)> job_;
  std::function<void()> cycleHook_;

  std::thread thread_;
};
