#include "engine/host_name_service.h"

#include <array>

#include "engine/capture_session.h"
#include "engine/notification_sink.h"

namespace {

// A query about a loopback, unspecified, link-local or multicast address
// tells nothing a DNS server knows, and still leaves the machine.
bool Worth(const CIpAddr& a) {
  if (a.IsV4()) return a[0] != 127 && a[0] != 0 && a[0] < 224 && !(a[0] == 169 && a[1] == 254);
  static const CIpAddr kV6Loopback =
      CIpAddr::V6(std::array<uint8_t, 16>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  const bool linkLocal = a[0] == 0xfe && (a[1] & 0xc0) == 0x80;
  return a != kV6Loopback && a != CIpAddr::V6(std::array<uint8_t, 16>{}) && a[0] != 0xff && !linkLocal;
}

}  // namespace

CHostNameService::CHostNameService(CNotificationSink& sink)
    : sink_(sink), resolver_(cache_, CReverseResolver::COptions{}) {}

CHostNameService::~CHostNameService() { Stop(); }

void CHostNameService::SetReverseLookups(bool on) {
  wanted_ = on;
  Apply();
}

void CHostNameService::Attach(CCaptureSession& session) {
  live_ = session.Clock().Kind() == CSessionClock::EKind::kWall;
  // The resolver stops before the names go, so that no late answer of the
  // session before lands among the new session's names.
  resolver_.Stop();
  cache_.Clear();
  session.SetNames(this);
  Apply();
}

void CHostNameService::Stop() {
  live_ = false;
  resolver_.Stop();
}

void CHostNameService::Apply() {
  if (!live_ || !wanted_) {
    resolver_.Stop();
    return;
  }
  std::string error;
  if (resolver_.Start(error)) return;
  if (error != lastError_) sink_.Post("Host names are not looked up: " + error);
  lastError_ = error;
}

void CHostNameService::Learn(const CDnsAnswer& answer) {
  // A pointer record the trace carried is a reverse lookup some program
  // made; it ranks as one.
  const ENameSource source =
      answer.kind == EDnsAnswerKind::kAddress ? ENameSource::kDnsAnswer : ENameSource::kReverseLookup;
  cache_.Store(answer.address, source, answer.name, CNameCache::Clock::now(), CNameCache::kForever);
}

void CHostNameService::LearnConnection(const CIpAddr& remote, const std::string& name) {
  cache_.Store(remote, ENameSource::kConnection, name, CNameCache::Clock::now(), CNameCache::kForever);
}

void CHostNameService::HostSeen(const CIpAddr& address) {
  if (Worth(address)) resolver_.Ask(address);
}

std::string CHostNameService::NameOf(const CIpAddr& address) {
  if (auto name = cache_.Lookup(address, CNameCache::Clock::now())) return std::move(name->name);
  HostSeen(address);
  return {};
}
