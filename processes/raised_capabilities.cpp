#include "processes/raised_capabilities.h"

#include <unistd.h>

namespace {

bool AllSet(cap_t caps, std::initializer_list<cap_value_t> wanted, cap_flag_t set) {
  for (cap_value_t cap : wanted) {
    cap_flag_value_t value = CAP_CLEAR;
    if (cap_get_flag(caps, cap, set, &value) != 0 || value != CAP_SET) return false;
  }
  return true;
}

}  // namespace

CRaisedCapabilities::CRaisedCapabilities(std::initializer_list<cap_value_t> caps) {
  if (caps.size() == 0) return;
  if (geteuid() == 0) {
    inForce_ = true;
    return;
  }
  cap_t current = cap_get_proc();
  if (current == nullptr) return;
  if (AllSet(current, caps, CAP_EFFECTIVE)) {
    // Already in force (the program was started with them effective):
    // leave them as they are.
    inForce_ = true;
  } else if (AllSet(current, caps, CAP_PERMITTED)) {
    std::vector<cap_value_t> list(caps);
    if (cap_set_flag(current, CAP_EFFECTIVE, static_cast<int>(list.size()), list.data(), CAP_SET) == 0 &&
        cap_set_proc(current) == 0) {
      raised_ = std::move(list);
      inForce_ = true;
    }
  }
  cap_free(current);
}

CRaisedCapabilities::~CRaisedCapabilities() {
  if (raised_.empty()) return;
  cap_t current = cap_get_proc();
  if (current == nullptr) return;
  if (cap_set_flag(current, CAP_EFFECTIVE, static_cast<int>(raised_.size()), raised_.data(), CAP_CLEAR) == 0)
    cap_set_proc(current);
  cap_free(current);
}

bool CRaisedCapabilities::Permitted(std::initializer_list<cap_value_t> caps) {
  if (geteuid() == 0) return true;
  cap_t current = cap_get_proc();
  if (current == nullptr) return false;
  const bool ok = AllSet(current, caps, CAP_PERMITTED);
  cap_free(current);
  return ok;
}
