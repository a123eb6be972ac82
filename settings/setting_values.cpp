#include "settings/setting_values.h"

#include <algorithm>

#include "filters/decimal_value.h"

namespace {

std::string FilterName(int index) { return "Filter" + std::to_string(index); }

}  // namespace

CSettingValues::~CSettingValues() = default;

std::string CSettingValues::ReadText(const std::string& name, const std::string& fallback) {
  std::optional<std::string> value = ReadValue(name);
  if (!value || value->size() >= kValueBufferSize) return fallback;
  value->resize(std::min(value->size(), value->find('\0')));
  if (value->empty()) return fallback;
  return *value;
}

int CSettingValues::ReadInterfaceKey() { return AtoiValue(ReadText("InterfaceKey", "0")); }

void CSettingValues::WriteInterfaceKey(int index) {
  WriteValue("InterfaceKey", std::to_string(index));
}

std::string CSettingValues::ReadHeaderOnly() { return ReadText("HeaderOnly", "0"); }

void CSettingValues::WriteHeaderOnly(const std::string& text) { WriteValue("HeaderOnly", text); }

std::string CSettingValues::ReadLogDir() { return ReadText("LogDir", ""); }

void CSettingValues::WriteLogDir(const std::string& text) { WriteValue("LogDir", text); }

std::string CSettingValues::ReadAutoLog() { return ReadText("AutoLog", ""); }

void CSettingValues::WriteAutoLog(const std::string& text) { WriteValue("AutoLog", text); }

std::string CSettingValues::ReadInclude() { return ReadText("Include", "0"); }

void CSettingValues::WriteInclude(const std::string& text) { WriteValue("Include", text); }

int CSettingValues::ReadFilterCount() {
  return std::clamp(AtoiValue(ReadText("FilerCount", "0")), 0, kMaxFilterCount);
}

void CSettingValues::WriteFilterCount(int count) {
  WriteValue("FilerCount", std::to_string(count));
}

std::string CSettingValues::ReadReverseLookups() { return ReadText("ReverseLookups", "1"); }

void CSettingValues::WriteReverseLookups(const std::string& text) {
  WriteValue("ReverseLookups", text);
}

int CSettingValues::ReadMemoryLimit() {
  const int mib = AtoiValue(ReadText("MemoryLimit", ""));
  return mib >= 1 && mib <= kMaxMemoryLimitMib ? mib : kDefaultMemoryLimitMib;
}

void CSettingValues::WriteMemoryLimit(int mebibytes) {
  WriteValue("MemoryLimit", std::to_string(mebibytes));
}

std::string CSettingValues::ReadFilter(int index) { return ReadText(FilterName(index), ""); }

void CSettingValues::WriteFilter(const std::string& text, int index) {
  WriteValue(FilterName(index), text);
}

bool CSettingValues::ReadSwitch(const std::string& name, bool fallback) {
  return ReadText(name, fallback ? "1" : "0") == "1";
}

void CSettingValues::WriteSwitch(const std::string& name, bool on) { WriteValue(name, on ? "1" : "0"); }

int CSettingValues::ReadNumber(const std::string& name, int fallback) {
  const std::string text = ReadText(name, "");
  return text.empty() ? fallback : AtoiValue(text);
}

void CSettingValues::WriteNumber(const std::string& name, int value) {
  WriteValue(name, std::to_string(value));
}
