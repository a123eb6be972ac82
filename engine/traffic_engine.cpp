#include "engine/traffic_engine.h"

#include "engine/interface_enumeration.h"

CTrafficEngine::CTrafficEngine(CSessionClock::WallClock wall)
    : wall_(wall), logs_(notifications_), names_(notifications_), capture_(notifications_),
      replay_(logs_),
      timer_([this] { logs_.Tick(); }) {
  NewSession(CSessionClock::EKind::kWall);
}

CTrafficEngine::~CTrafficEngine() { Shutdown(); }

void CTrafficEngine::EnumerateInterfaces() { ::EnumerateInterfaces(notifications_, interfaces_); }

const CInterfaceRecord* CTrafficEngine::InterfaceAt(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= interfaces_.size()) return nullptr;
  return interfaces_[static_cast<std::size_t>(index)].get();
}

int CTrafficEngine::AddInterface(std::unique_ptr<CInterfaceRecord> record) {
  interfaces_.push_back(std::move(record));
  return static_cast<int>(interfaces_.size()) - 1;
}

void CTrafficEngine::SetLogOptions(const CLogOptions& options) {
  const CLogOptions old = logs_.Options();
  if (old.enabled && !options.enabled) logs_.Pass(ELogPass::kFinal);
  logs_.SetOptions(options);
}

std::shared_ptr<CCaptureSession> CTrafficEngine::Session() const {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  return session_;
}

bool CTrafficEngine::ShowsReplay() const {
  return Session()->Clock().Kind() == CSessionClock::EKind::kCapture;
}

void CTrafficEngine::NewSession(CSessionClock::EKind kind, CCaptureSession::CSource source) {
  // A session that never recorded anything leaves no files behind.
  if (std::shared_ptr<CCaptureSession> old = Session(); old != nullptr && old->HoldsData()) {
    old->Finish();
    logs_.Pass(ELogPass::kFinal);
  }
  auto session = std::make_shared<CCaptureSession>(++lastSessionId_, kind, switches_, filters_,
                                                   cancel_, wall_);
  session->SetSource(std::move(source));
  session->SetNotificationSink(&notifications_);
  logs_.Attach(session);
  flows_.Attach(*session);
  names_.Attach(*session);
  services_.Attach(*session);
  // Rule counts, like every other figure, are those of the trace shown.
  filters_.ResetCounters();
  std::lock_guard<std::mutex> lock(sessionMutex_);
  session_ = std::move(session);
}

bool CTrafficEngine::StartLive(int index) {
  const CInterfaceRecord* device = InterfaceAt(index);
  if (device == nullptr || shutDown_) return false;
  replay_.Stop();
  capture_.Stop();
  if (ShowsReplay()) NewSession(CSessionClock::EKind::kWall);
  // Capture devices are those of this program's network namespace, so its
  // own socket table is the traced interface's.
  if (!processes_) processes_ = CSocketOwnerCache::ForThisHost(true, {});
  Session()->SetProcessCache(processes_.get());
  timer_.Start();
  capture_.Start(Session(), *device);
  return true;
}

std::string CTrafficEngine::ProcessNote() const {
  if (ShowsReplay()) return kReplayProcessNote;
  const std::shared_ptr<CCaptureSession> session = Session();
  return session->ProcessCache() != nullptr ? session->ProcessCache()->Status().text : std::string();
}

void CTrafficEngine::StopLive() {
  if (!capture_.IsCapturing() && capture_.TraceId() == 0) return;
  capture_.Stop();
  if (!ShowsReplay()) Session()->Finish();
}

void CTrafficEngine::StartReplay(std::unique_ptr<CCaptureInput> input, std::vector<CIpAddr> local,
                                 std::function<void(const CReplayResult&)> done) {
  if (shutDown_) return;
  capture_.Stop();
  replay_.Stop();
  NewSession(CSessionClock::EKind::kCapture, {input->Path(), local});
  timer_.Start();
  replay_.Start(Session(), std::move(input), std::move(local), std::move(done));
}

CReplayResult CTrafficEngine::Replay(CCaptureInput& input, std::vector<CIpAddr> local,
                                     const std::atomic<bool>* keepGoing) {
  capture_.Stop();
  replay_.Stop();
  NewSession(CSessionClock::EKind::kCapture, {input.Path(), local});
  const std::shared_ptr<CCaptureSession> session = Session();
  CInterfaceRecord host;
  host.addresses = std::move(local);
  host.deviceName = input.Path();
  const CSessionClock& clock = session->Clock();
  const CReplayResult result = ReplayCaptureFile(
      *session, input, host, keepGoing, [this, &clock](bool recorded) { logs_.AfterFrame(clock, recorded); });
  session->Finish();
  logs_.Pass(ELogPass::kFinal);
  return result;
}

void CTrafficEngine::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  timer_.Stop();
  cancel_.Cancel();
  replay_.Stop();
  capture_.Stop();
  Session()->Finish();
  logs_.Pass(ELogPass::kFinal);
  flows_.Stop();
  names_.Stop();
}
