#include "engine/engine_timer.h"

CEngineTimer::CEngineTimer(std::function<void()> job, std::chrono::milliseconds cycle)
    : job_(std::move(job)), cycle_(cycle) {}

void CEngineTimer::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_ || thread_.joinable()) return;
  thread_ = std::thread([this] { Run(); });
}

CEngineTimer::~CEngineTimer() { Stop(); }

void CEngineTimer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CEngineTimer::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, cycle_, [this] { return stopping_; })) {
    lock.unlock();
    job_();
    lock.lock();
  }
}
