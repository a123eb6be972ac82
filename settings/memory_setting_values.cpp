#include "settings/memory_setting_values.h"

std::optional<std::string> CMemorySettingValues::ReadValue(const std::string& name) {
  if (!readable) return std::nullopt;
  const auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

void CMemorySettingValues::WriteValue(const std::string& name, const std::string& text) {
  if (writable) values[name] = text;
}
