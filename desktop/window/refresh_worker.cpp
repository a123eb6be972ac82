#include "desktop/window/refresh_worker.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <ctime>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output/log_writer.h"

namespace {

// Refreshing must never compete with capture: the weakest nice value for
// this thread alone. Not SCHED_IDLE: that class starves outright while the
// machine is busy, and the log pass and the status line would stall for as
// long as the load lasts. Best effort; a refusal changes nothing.
void LowerOwnPriority() { setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19); }

int64_t WallClock() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

CRefreshWorker::CRefreshWorker(CAppState& state) : state_(state) {}

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
  int64_t lastListRefresh = WallClock();
  bool firstGraph = true;
  if (state_.Quitting()) return;
  do {
    RunCycle(lastListRefresh, firstGraph);
  } while (Sleep());
}

void CRefreshWorker::RunCycle(int64_t& lastListRefresh, bool& firstGraph) {
  std::function<void(const CHostStatsTick&)> job;
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job = job_;
    hook = cycleHook_;
  }

  if (hostStatsShown_.load() != 0 && state_.pause.load() == 0) {
    CHostStatsTick tick;
    tick.now = WallClock();
    tick.listDue = tick.now - lastListRefresh > 3;
    if (tick.listDue) lastListRefresh = tick.now;
    tick.firstGraph = firstGraph;
    if (job && (tick.listDue || tick.firstGraph)) {
      job(tick);
      firstGraph = false;
    }
  }

  // The decoder shares the last-flush time, so the pass is decided and run
  // under the traffic lock; skip the lock altogether while logging is off.
  if (state_.logToFile.load() != 0) {
    std::lock_guard<std::mutex> lock(state_.trafficLock);
    WriteLogsIfDue(state_.Model(), WallClock());
  }

  if (hook) hook();
}

bool CRefreshWorker::Sleep() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(cycleMillis_),
                 [this] { return stopping_ || state_.Quitting(); });
  return !stopping_ && !state_.Quitting();
}
