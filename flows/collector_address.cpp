#include "flows/collector_address.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

namespace {

std::optional<CCollectorAddress> Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return std::nullopt;
}

bool IsDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<uint16_t> ParsePort(std::string_view s) {
  if (!IsDigits(s) || s.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : s) value = value * 10 + static_cast<unsigned>(c - '0');
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

bool IsAddress(int family, const std::string& text) {
  unsigned char buf[16];
  return ::inet_pton(family, text.c_str(), buf) == 1;
}

// Letters, digits and inner hyphens in labels of 1-63 characters, at most
// 253 in all; a last label of digits only would be a mistyped IPv4 address.
bool IsHostName(std::string_view name) {
  if (name.empty() || name.size() > 253) return false;
  std::size_t start = 0;
  std::string_view last;
  while (start <= name.size()) {
    std::size_t dot = name.find('.', start);
    if (dot == std::string_view::npos) dot = name.size();
    const std::string_view label = name.substr(start, dot - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
      return false;
    for (char c : label)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
    last = label;
    start = dot + 1;
  }
  return !IsDigits(last);
}

}  // namespace

std::optional<CCollectorAddress> CCollectorAddress::Parse(std::string_view text,
                                                          std::string* error) {
  CCollectorAddress out;
  std::string_view portText;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return Fail(error, "The '[' has no closing ']'.");
    out.host = std::string(text.substr(1, close - 1));
    if (!IsAddress(AF_INET6, out.host))
      return Fail(error, "'" + out.host + "' is not an IPv6 address.");
    if (close + 1 >= text.size() || text[close + 1] != ':')
      return Fail(error, "A port must follow the address, as in [2001:db8::1]:4739.");
    portText = text.substr(close + 2);
  } else {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
      return Fail(error, "The collector needs a port, as in 192.0.2.1:4739.");
    out.host = std::string(text.substr(0, colon));
    if (out.host.find(':') != std::string::npos)
      return Fail(error, "Write an IPv6 address in brackets, as in [2001:db8::1]:4739.");
    if (out.host.empty()) return Fail(error, "The collector's host is missing.");
    if (!IsAddress(AF_INET, out.host) && !IsHostName(out.host))
      return Fail(error, "'" + out.host + "' is neither an IPv4 address nor a host name.");
    portText = text.substr(colon + 1);
  }
  const std::optional<uint16_t> port = ParsePort(portText);
  if (!port) return Fail(error, "The port must be a number from 1 to 65535.");
  out.port = *port;
  return out;
}
