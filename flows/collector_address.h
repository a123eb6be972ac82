#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Where flow records go: a collector's host and UDP port, as the user wrote
// them. A plain value; any thread.
struct CCollectorAddress {
  std::string host;  // an IPv4 address, an IPv6 address (no brackets) or a host name
  uint16_t port = 0;

  // Parses "HOST:PORT", where HOST is an IPv4 address or a host name, or
  // "[ADDR]:PORT" for an IPv6 address. PORT is 1-65535 in decimal. On
  // failure returns nothing and, when `error` is given, a sentence saying
  // what is wrong. Names are only checked for form here; they are looked up
  // when the exporter starts sending.
  static std::optional<CCollectorAddress> Parse(std::string_view text,
                                                std::string* error = nullptr);
};
