#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wire/ip_address.h"

// One filter rule naming the far end of the traffic, of one address family.
//
// An IPv4 rule is an octet pattern: an octet of 0 stands for any value in
// that octet (any octet, not only trailing ones: 10.0.0.1 is the pattern
// 10.*.*.1). An IPv6 rule is a prefix ("2001:db8::/32"). A port of 0 stands
// for any port. An IPv4 rule never matches an IPv6 packet, nor an IPv6 rule
// an IPv4 one.
//
// A small value type: lists hold rules by value so that matching walks one
// contiguous array. Pure; any thread.
class CFilterRule {
 public:
  static constexpr int kMaxPrefixLength = 128;

  // The IPv4 rule that matches every IPv4 packet.
  CFilterRule() = default;
  // An IPv4 rule entered by the user (invalid flag 0). `port` in host order.
  CFilterRule(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port);

  // An IPv6 rule: the first `prefixLength` bits (0..128, clamped) of the
  // IPv6 `address`; the bits past the prefix are cleared.
  static CFilterRule Ipv6(const CIpAddr& address, int prefixLength, uint16_t port);

  // An IPv6 prefix as text, "2001:db8::/32", or a whole address, which is a
  // /128. Nothing for anything else: IPv4 text, a length outside 0..128 or
  // with other than decimal digits, blanks.
  static std::optional<CFilterRule> ParseIpv6Prefix(std::string_view text, uint16_t port);

  // Builds an IPv4 rule from stored text split at its ":" ("192.168.*.*" and
  // "80"). The caller tests `invalid`: 1 when the address part is not four
  // pieces and the port part gives no port; such a rule must not enter a
  // list. An unreadable address with a usable port gives a port-only rule;
  // an octet outside 1..255 reads as "*"; only the low 16 bits of the port
  // count.
  static CFilterRule ParseRule(std::string_view addressPart, std::string_view portPart);

  // Builds an IPv6 rule from the stored text inside its brackets
  // ("2001:db8::/32") and its port part; invalid (1) when the prefix cannot
  // be read, whatever the port. The port is read as ParseRule reads it.
  static CFilterRule ParseIpv6Rule(std::string_view prefixPart, std::string_view portPart);

  // True when the packet's far end `addr` (network order) is of the rule's
  // family and within its pattern or prefix, and a non-zero port equals
  // `packetPort` (host order). Allocates nothing.
  bool Matches(const CIpAddr& addr, uint16_t packetPort) const noexcept {
    if (addr.Family() != address.Family()) return false;
    if (addr.IsV4()) {
      for (int i = 0; i < 4; ++i) {
        if (address[i] != 0 && address[i] != addr[i]) return false;
      }
    } else if (!InPrefix(addr)) {
      return false;
    }
    return port == 0 || port == packetPort;
  }

  // IPv4: "10.*.*.1:*", "*.*.*.*:80", "10.1.2.3:443". IPv6: the prefix in
  // brackets, "[2001:db8::/32]:443"; a /128 without its length,
  // "[2001:db8::1]:*".
  std::string ToText() const;

  bool operator==(const CFilterRule&) const = default;

  int invalid = 0;
  uint16_t port = 0;         // host order; 0 = any
  uint8_t prefixLength = 0;  // IPv6 rules only
  CIpAddr address{};         // network order; IPv4: each 0 octet = any

 private:
  bool InPrefix(const CIpAddr& addr) const noexcept {
    const int whole = prefixLength / 8;
    for (int i = 0; i < whole; ++i) {
      if (address[i] != addr[i]) return false;
    }
    const int rest = prefixLength % 8;
    if (rest == 0) return true;
    const uint8_t mask = static_cast<uint8_t>(0xFF00 >> rest);
    return (addr[whole] & mask) == address[whole];
  }
};
