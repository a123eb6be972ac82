#pragma once
#include <map>
#include <optional>
#include <string>

#include "settings/setting_values.h"

// Settings values kept in memory: the headless program's store and the
// tests' stand-in for the settings file. `readable` and `writable` switched
// off imitate a store that cannot be opened for reading or for writing.
class CMemorySettingValues : public CSettingValues {
 public:
  std::optional<std::string> ReadValue(const std::string& name) override;
  void WriteValue(const std::string& name, const std::string& text) override;

  std::map<std::string, std::string> values;
  bool readable = true;
  bool writable = true;
};
