#pragma once
#include <string>
#include <vector>

#include "model/traffic_types.h"
#include "wire/ip_address.h"

// One capture device: the text the interface list shows, the name a trace
// opens, and its IPv4 and IPv6 addresses of every scope, each once (the
// library's order, then 127.0.0.1 for a loopback device that does not list
// it). Built once at start-up and only read afterwards.
class CInterfaceRecord {
 public:
  // Appends the address unless the list holds it already.
  void AddAddress(const CIpAddr& address) {
    for (const CIpAddr& held : addresses) {
      if (held == address) return;
    }
    addresses.push_back(address);
  }
  void AddAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d) { AddAddress(CIpAddr(a, b, c, d)); }

  // Whether the local host sent or received the packet, or neither. The
  // first address of the list that equals either side decides; with no
  // match, loopback traffic (127.0.0.1, ::1) counts as the local host's.
  EDirection Direction(const CIpAddr& source, const CIpAddr& destination) const;

  // Each address (FormatAddress) followed by two blanks.
  std::string AddressListing() const;

  std::vector<CIpAddr> addresses;
  std::string label;       // "%d. %s"
  std::string deviceName;  // what a trace opens
  // False for devices that cannot carry IP traffic at all (Bluetooth,
  // D-Bus, netfilter queues, USB monitors); the list shows them last.
  bool carriesIp = true;
};
