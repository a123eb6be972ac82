#include "desktop/settings/final_log_pass.h"

#include <ctime>
#include <mutex>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output/log_writer.h"

namespace {

std::function<void()>& Observer() {
  static std::function<void()> observer;
  return observer;
}

}  // namespace

void RunFinalLogPass(CAppState& state) {
  {
    std::lock_guard<std::mutex> lock(state.trafficLock);
    WriteLogs(state.Model(), 1, state.statsOption.load(), state.dataOption.load(),
              state.hexOption.load(), static_cast<int64_t>(std::time(nullptr)));
  }
  if (Observer()) Observer()();
}

void SetFinalLogPassObserver(std::function<void()> observer) { Observer() = std::move(observer); }
