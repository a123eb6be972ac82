#include "engine/replay_runner.h"

#include "engine/capture_session.h"
#include "engine/log_service.h"

CReplayRunner::~CReplayRunner() { Stop(); }

void CReplayRunner::Start(std::shared_ptr<CCaptureSession> session,
                          std::unique_ptr<CCaptureInput> input, std::vector<CIpAddr> local,
                          std::function<void(const CReplayResult&)> done) {
  Stop();
  local_.addresses = std::move(local);
  local_.label = input->Path();
  local_.deviceName = input->Path();
  keepGoing_ = true;
  running_ = true;
  thread_ = std::thread([this, session = std::move(session), input = std::move(input),
                         done = std::move(done)] {
    const CSessionClock& clock = session->Clock();
    const CReplayResult result = ReplayCaptureFile(
        *session, *input, local_, &keepGoing_, [this, &clock](bool recorded) { logs_.AfterFrame(clock, recorded); });
    session->Finish();
    logs_.Pass(ELogPass::kFinal);
    running_ = false;
    if (done) done(result);
  });
}

void CReplayRunner::Stop() {
  keepGoing_ = false;
  if (thread_.joinable()) thread_.join();
}
