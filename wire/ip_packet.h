#pragma once
#include <cstdint>
#include <span>

#include "wire/ip_address.h"

// How reading a header went. Truncated: the captured bytes ended inside it.
// Malformed: the header contradicts itself.
enum class EReadResult : uint8_t { kOk, kTruncated, kMalformed };

// The network-layer values of one IPv4 or IPv6 packet, as its headers claim
// them. IPv6 fills the IPv4 fields with their counterparts.
struct CIpPacket {
  CIpAddr source;
  CIpAddr destination;
  uint8_t protocol = 0;  // the transport protocol: 6 TCP, 17 UDP, ...
  uint8_t ttl = 0;       // IPv6: the hop limit
  // IPv4's 16 bits, or the 32 bits of IPv6's Fragment header (0 without one).
  uint32_t identification = 0;
  bool moreFragments = false;
  // In 8-byte units. Above 0 the packet is a later fragment: what follows
  // the IP headers is the middle or end of a datagram, not a transport
  // header.
  uint16_t fragmentOffset = 0;
  // IPv4: the total length; IPv6: 40 + the payload length. In bytes.
  int totalLength = 0;
  // Bytes before the transport header: IPv4's IHL, or IPv6's 40 plus the
  // extension headers walked.
  int headerLength = 0;
  // From the IP header to the end of the captured frame; every later read
  // stays inside it.
  std::span<const uint8_t> bytes;

  bool LaterFragment() const { return fragmentOffset > 0; }
};

// Reads the IPv4 header at the start of `bytes`. Truncated when fewer than
// 20 bytes were captured; malformed when the version is not 4 or the header
// length is below 20. Pure; any thread.
EReadResult ReadIpv4(std::span<const uint8_t> bytes, CIpPacket& out);

// Reads the IPv6 header at the start of `bytes` and walks its extension
// headers (Hop-by-Hop, Routing, Destination Options, Fragment), each within
// the captured bytes, up to the first other header, whose number becomes
// `protocol`: TCP or UDP for a packet worth recording, anything else (ICMPv6,
// ESP, AH, No Next Header, unknown) for one that is not. A Fragment header
// with an offset above 0 ends the walk, its next header naming the protocol.
// Truncated when the fixed header or an extension header was not fully
// captured; malformed when the version is not 6, for a jumbogram (payload
// length 0 with a Hop-by-Hop header) and for a Hop-by-Hop header anywhere
// but first. Pure; any thread.
EReadResult ReadIpv6(std::span<const uint8_t> bytes, CIpPacket& out);

// ReadIpv4 or ReadIpv6 by the version nibble; malformed for any other
// version, truncated for no bytes at all.
EReadResult ReadIpPacket(std::span<const uint8_t> bytes, CIpPacket& out);
