#include "engine/app_state.h"

#include <unistd.h>

#include <climits>

#include "model/traffic_model.h"

CAppState::CAppState() : model_(std::make_unique<CTrafficModel>(*this)) {
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) != nullptr) logDir = cwd;
  graphSampleTime = static_cast<int64_t>(time(nullptr));
}

CAppState::~CAppState() {
  // The model goes first: its records may refer to nothing else, but the
  // interface list must outlive any reader of the selected interface.
  model_.reset();
}

const CInterfaceRecord* CAppState::InterfaceAt(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= interfaces.size()) return nullptr;
  return interfaces[static_cast<std::size_t>(index)].get();
}
