#pragma once
#include <cstdint>
#include <optional>
#include <span>

// The step from a captured frame to the IPv4 or IPv6 packet inside it, for
// the link types a trace can record: Ethernet II (with up to two VLAN tags,
// 802.1Q or 802.1ad), Linux cooked capture v1 and v2 (the "any" device) and
// raw IP (tun devices, WireGuard). Link types are the capture library's DLT_
// values as pcap_datalink() returns them.

// True when frames of this link type can reach the decoder.
bool IsSupportedLinkType(int linkType);

// The capture library's short name of a link type ("EN10MB"), or its number
// when the library has no name for it.
const char* LinkTypeName(int linkType, char (&buffer)[16]);

// The bytes from the IP header to the end of the captured frame, or nothing
// when the frame carries neither IPv4 nor IPv6 (another protocol, an
// unsupported link type, a third VLAN tag, or a link header that was not
// fully captured). Reads stay within `frame`.
std::optional<std::span<const uint8_t>> IpFromFrame(int linkType, std::span<const uint8_t> frame);
