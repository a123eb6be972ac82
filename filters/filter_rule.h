#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "wire/ip_address.h"

// One filter rule naming the far end of the traffic. An octet of 0 stands
// for any value in that octet (any octet, not only trailing ones: 10.0.0.1
// is the pattern 10.*.*.1), a port of 0 for any port.
//
// A small value type: lists hold rules by value so that matching walks one
// contiguous array. Pure; any thread.
class CFilterRule {
 public:
  // The rule that matches everything.
  CFilterRule() = default;
  // A rule entered by the user (invalid flag 0). `port` in host order.
  CFilterRule(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port);

  // Builds a rule from stored text split at its ":" ("192.168.*.*" and "80").
  // The caller tests `invalid`: 1 when the address part is not four pieces
  // and the port part gives no port; such a rule must not enter a list. An
  // unreadable address with a usable port gives a port-only rule; an octet
  // outside 1..255 reads as "*"; only the low 16 bits of the port count.
  static CFilterRule ParseRule(std::string_view addressPart, std::string_view portPart);

  // True when every non-zero octet and a non-zero port equal the packet's.
  // `addr` in network order, `packetPort` in host order. Allocates nothing.
  bool Matches(const CIpAddr& addr, uint16_t packetPort) const noexcept {
    if (!addr.IsV4()) return false;
    for (int i = 0; i < 4; ++i) {
      if (address[i] != 0 && address[i] != addr[i]) return false;
    }
    return port == 0 || port == packetPort;
  }

  // "10.*.*.1:*", "*.*.*.*:80", "10.1.2.3:443".
  std::string ToText() const;

  bool operator==(const CFilterRule&) const = default;

  int invalid = 0;
  uint16_t port = 0;    // host order; 0 = any
  CIpAddr address{};    // network order; each 0 octet = any
};
