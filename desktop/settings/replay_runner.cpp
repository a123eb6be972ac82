#include "desktop/settings/replay_runner.h"

CReplayRunner::CReplayRunner(CAppState& state) : state_(state) {}

CReplayRunner::~CReplayRunner() { Stop(); }

void CReplayRunner::Start(const std::string& path, std::vector<CIpAddr> local,
                          std::function<void(const CReplayResult&)> done) {
  Stop();
  local_.addresses = std::move(local);
  local_.label = path;
  local_.deviceName = path;
  keepGoing_ = 1;
  running_ = 1;
  thread_ = std::thread([this, path, done = std::move(done)] {
    const CReplayResult result = ReplayCaptureFile(state_, path, local_, &keepGoing_);
    running_ = 0;
    if (done) done(result);
  });
}

void CReplayRunner::Stop() {
  keepGoing_ = 0;
  if (thread_.joinable()) thread_.join();
}
