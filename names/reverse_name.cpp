#include "names/reverse_name.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::string_view kV4Suffix = ".in-addr.arpa";
constexpr std::string_view kV6Suffix = ".ip6.arpa";
constexpr char kHex[] = "0123456789abcdef";

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Splits off the first dot-separated label of `rest`.
std::string_view TakeLabel(std::string_view& rest) {
  const std::size_t dot = rest.find('.');
  const std::string_view label = rest.substr(0, dot);
  rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
  return label;
}

std::optional<CIpAddr> V4FromLabels(std::string_view labels) {
  std::array<uint8_t, 4> octets{};
  for (int i = 3; i >= 0; --i) {
    if (labels.empty()) return std::nullopt;
    const std::string_view label = TakeLabel(labels);
    if (label.empty() || label.size() > 3 || (label.size() > 1 && label[0] == '0'))
      return std::nullopt;
    unsigned value = 0;
    for (char c : label) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return std::nullopt;
    octets[static_cast<std::size_t>(i)] = static_cast<uint8_t>(value);
  }
  if (!labels.empty()) return std::nullopt;
  return CIpAddr::V4(std::span<const uint8_t, 4>(octets));
}

std::optional<CIpAddr> V6FromLabels(std::string_view labels) {
  std::array<uint8_t, 16> bytes{};
  for (int nibble = 31; nibble >= 0; --nibble) {
    if (labels.empty()) return std::nullopt;
    const std::string_view label = TakeLabel(labels);
    if (label.size() != 1) return std::nullopt;
    const char c = label[0];
    unsigned value;
    if (c >= '0' && c <= '9') {
      value = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
    const auto byte = static_cast<std::size_t>(nibble / 2);
    bytes[byte] = static_cast<uint8_t>(bytes[byte] | (nibble % 2 ? value : value << 4));
  }
  if (!labels.empty()) return std::nullopt;
  return CIpAddr::V6(bytes);
}

}  // namespace

std::string CReverseName::ForAddress(const CIpAddr& address) {
  std::string name;
  if (address.IsV4()) {
    for (int i = 3; i >= 0; --i) name += std::to_string(address[static_cast<std::size_t>(i)]) + '.';
    name += kV4Suffix.substr(1);
    return name;
  }
  name.reserve(64 + kV6Suffix.size());
  for (int i = 15; i >= 0; --i) {
    const uint8_t b = address[static_cast<std::size_t>(i)];
    name += kHex[b & 0x0F];
    name += '.';
    name += kHex[b >> 4];
    name += '.';
  }
  name += kV6Suffix.substr(1);
  return name;
}

std::optional<CIpAddr> CReverseName::ToAddress(std::string_view name) {
  if (EndsWith(name, kV4Suffix)) return V4FromLabels(name.substr(0, name.size() - kV4Suffix.size()));
  if (EndsWith(name, kV6Suffix)) return V6FromLabels(name.substr(0, name.size() - kV6Suffix.size()));
  return std::nullopt;
}
