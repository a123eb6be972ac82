#include "wire/ip_address.h"

#include <arpa/inet.h>

#include <cstdio>

std::optional<CIpAddr> CIpAddr::FromText(std::string_view text) {
  // inet_pton needs a terminated string; nothing longer than the longest
  // IPv6 text can be an address.
  char buf[INET6_ADDRSTRLEN];
  if (text.size() >= sizeof buf) return std::nullopt;
  text.copy(buf, text.size());
  buf[text.size()] = '\0';
  std::array<uint8_t, 16> bytes{};
  if (inet_pton(AF_INET, buf, bytes.data()) == 1) {
    return CIpAddr(bytes[0], bytes[1], bytes[2], bytes[3]);
  }
  if (inet_pton(AF_INET6, buf, bytes.data()) == 1) return V6(bytes);
  return std::nullopt;
}

std::string CIpAddr::ToText() const {
  if (IsV6()) {
    char buf[INET6_ADDRSTRLEN];
    if (inet_ntop(AF_INET6, bytes_.data(), buf, sizeof buf) == nullptr) return {};
    return buf;
  }
  char buf[20];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", bytes_[0], bytes_[1], bytes_[2], bytes_[3]);
  return buf;
}
