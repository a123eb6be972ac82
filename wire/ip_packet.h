#pragma once
#include <cstdint>
#include <span>

#include "wire/ip_address.h"

// How reading a header went. Truncated: the captured bytes ended inside it.
// Malformed: the header contradicts itself.
enum class EReadResult : uint8_t { kOk, kTruncated, kMalformed };

// The network-layer values of one packet, as its headers claim them.
struct CIpPacket {
  CIpAddr source;
  CIpAddr destination;
  uint8_t protocol = 0;  // the transport protocol: 6 TCP, 17 UDP, ...
  uint8_t ttl = 0;
  uint16_t identification = 0;
  bool moreFragments = false;
  int totalLength = 0;   // as the header claims it, in bytes
  int headerLength = 0;  // bytes of IP header before the transport header
  // From the IP header to the end of the captured frame; every later read
  // stays inside it.
  std::span<const uint8_t> bytes;
};

// Reads the IPv4 header at the start of `bytes`. Truncated when fewer than
// 20 bytes were captured; malformed when the version is not 4 or the header
// length is below 20. Pure; any thread.
EReadResult ReadIpv4(std::span<const uint8_t> bytes, CIpPacket& out);
