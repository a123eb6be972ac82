#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The engine's own one-second beat, shared by the desktop and the headless
// program: a thread that runs one job per cycle (the log service's tick).
// The job runs on the timer thread with no lock held.
class CEngineTimer {
 public:
  explicit CEngineTimer(std::function<void()> job,
                        std::chrono::milliseconds cycle = std::chrono::milliseconds(1000));
  // Stops and joins.
  ~CEngineTimer();

  CEngineTimer(const CEngineTimer&) = delete;
  CEngineTimer& operator=(const CEngineTimer&) = delete;

  // Starts the beat; later calls do nothing. Not before it is needed: a
  // process whose only thread replays a file runs its locks uncontended
  // and cheaper.
  void Start();

  // Ends the thread without waiting out its sleep and joins it. Idempotent.
  void Stop();

 private:
  void Run();

  const std::function<void()> job_;
  const std::chrono::milliseconds cycle_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};
