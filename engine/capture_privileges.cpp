#include "engine/capture_privileges.h"

#include <sys/capability.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace {

constexpr cap_value_t kCaptureCaps[] = {CAP_NET_RAW, CAP_NET_ADMIN};
constexpr int kCaptureCapCount = 2;

// Root holds every capability already, and clearing its effective set would
// take away what it runs on; its sets are left alone.
bool IsRoot() { return geteuid() == 0; }

bool ClearEffective() {
  cap_t caps = cap_get_proc();
  if (caps == nullptr) return false;
  const bool ok = cap_clear_flag(caps, CAP_EFFECTIVE) == 0 && cap_set_proc(caps) == 0;
  cap_free(caps);
  return ok;
}

}  // namespace

CCapturePrivileges::CCapturePrivileges() {
  if (IsRoot()) return;
  cap_t caps = cap_get_proc();
  if (caps == nullptr) return;
  bool permitted = true;
  for (cap_value_t cap : kCaptureCaps) {
    cap_flag_value_t value = CAP_CLEAR;
    if (cap_get_flag(caps, cap, CAP_PERMITTED, &value) != 0 || value != CAP_SET) permitted = false;
  }
  // Raising only one of the two would still fail to open most devices, so
  // both or neither.
  if (permitted && cap_set_flag(caps, CAP_EFFECTIVE, kCaptureCapCount, kCaptureCaps, CAP_SET) == 0 &&
      cap_set_proc(caps) == 0) {
    raised_ = true;
  }
  cap_free(caps);
}

CCapturePrivileges::~CCapturePrivileges() {
  if (raised_) ClearEffective();
}

void CCapturePrivileges::DropEffective() {
  if (!IsRoot()) ClearEffective();
}

const char* CCapturePrivileges::RootWarning() {
  return "trafalyn: running as root; capture needs only cap_net_raw,cap_net_admin (see README)";
}

bool CCapturePrivileges::WarnIfRoot() {
  static std::atomic<bool> warned{false};
  if (!IsRoot() || warned.exchange(true)) return false;
  std::fprintf(stderr, "%s\n", RootWarning());
  return true;
}
