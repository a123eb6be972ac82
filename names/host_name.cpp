#include "names/host_name.h"

namespace {

char Lower(uint8_t b) { return static_cast<char>(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b); }

bool AllDigits(std::string_view label) {
  for (char c : label)
    if (c < '0' || c > '9') return false;
  return true;
}

// The rule's checks on a whole text already built from label bytes.
bool WellShaped(std::string_view text) {
  if (text.empty() || text.size() > CHostName::kMaxText) return false;
  std::size_t labelStart = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '.') continue;
    const std::size_t length = i - labelStart;
    if (length == 0 || length > CHostName::kMaxLabel) return false;
    labelStart = i + 1;
  }
  return !AllDigits(text.substr(text.rfind('.') + 1));
}

}  // namespace

std::optional<std::string> CHostName::FromText(std::string_view text) {
  if (!text.empty() && text.back() == '.') text.remove_suffix(1);
  if (text.size() > kMaxText) return std::nullopt;
  std::string name;
  name.reserve(text.size());
  for (char c : text) {
    const auto b = static_cast<uint8_t>(c);
    if (!IsLabelByte(b) && b != '.') return std::nullopt;
    name.push_back(Lower(b));
  }
  if (!WellShaped(name)) return std::nullopt;
  return name;
}

std::optional<std::string> CHostName::FromWire(std::span<const uint8_t> wire) {
  std::string name;
  name.reserve(wire.size());
  std::size_t at = 0;
  while (at < wire.size()) {
    const std::size_t length = wire[at++];
    if (length == 0) break;
    if (length > kMaxLabel || length > wire.size() - at) return std::nullopt;
    if (!name.empty()) name.push_back('.');
    for (std::size_t i = 0; i < length; ++i) {
      const uint8_t b = wire[at + i];
      if (!IsLabelByte(b)) return std::nullopt;
      name.push_back(Lower(b));
    }
    at += length;
  }
  if (!WellShaped(name)) return std::nullopt;
  return name;
}
