#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "wire/ip_address.h"

// The names under which reverse lookups are asked: "4.3.2.1.in-addr.arpa"
// for 1.2.3.4 and 32 nibble labels under "ip6.arpa" for an IPv6 address.
// Plain functions over values; any thread.
class CReverseName {
 public:
  // The reverse name of `address`, lower case, no trailing dot.
  static std::string ForAddress(const CIpAddr& address);

  // The address a reverse name stands for, or nothing when `name` (a text
  // CHostName accepted: lower case, no trailing dot) is not one: a label
  // count other than 4 or 32, an octet above 255 or with a leading zero, a
  // nibble label that is not one hex digit.
  static std::optional<CIpAddr> ToAddress(std::string_view name);
};
