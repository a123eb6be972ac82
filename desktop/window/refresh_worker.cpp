#include "desktop/window/refresh_worker.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>

namespace {

// Refreshing must never compete with capture: the weakest nice value for
// this thread alone. Not SCHED_IDLE: that class starves outright while the
// machine is busy, and the log pass and the status line would stall for as
// long as the load lasts. Best effort; a refusal changes nothing.
void LowerOwnPriority() { setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19); }

}  // namespace

CRefreshWorker::~CRefreshWorker() { Stop(); }

void CRefreshWorker::SetHostStatsJob(std::function<void(const CHostStatsTick&)> job) {
  std::lock_guard<std::mutex> lock(mutex_);
  job_ = std::move(job);
}

void CRefreshWorker::SetCycleHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  cycleHook_ = std::move(hook);
}

void CRefreshWorker::Start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this] { Run(); });
}

void CRefreshWorker::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CRefreshWorker::Run() {
  LowerOwnPriority();
  auto lastListRefresh = std::chrono::steady_clock::now();
  bool firstGraph = true;
  do {
    RunCycle(lastListRefresh, firstGraph);
  } while (Sleep());
}

void CRefreshWorker::RunCycle(std::chrono::steady_clock::time_point& lastListRefresh,
                              bool& firstGraph) {
  std::function<void(const CHostStatsTick&)> job;
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job = job_;
    hook = cycleHook_;
  }

  if (hostStatsShown_.load() != 0) {
    // The page's cadence is the user's time, whichever clock the session
    // runs on.
    const auto now = std::chrono::steady_clock::now();
    CHostStatsTick tick;
    tick.listDue = now - lastListRefresh > std::chrono::milliseconds(3500);
    if (tick.listDue) lastListRefresh = now;
    tick.firstGraph = firstGraph;
    if (job && (tick.listDue || tick.firstGraph)) {
      job(tick);
      firstGraph = false;
    }
  }

  if (hook) hook();
}

bool CRefreshWorker::Sleep() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(cycleMillis_), [this] { return stopping_; });
  return !stopping_;
}
