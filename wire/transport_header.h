#pragma once
#include <cstdint>

#include "wire/ip_packet.h"

inline constexpr uint8_t kProtocolTcp = 6;
inline constexpr uint8_t kProtocolUdp = 17;

// The transport-layer values of one TCP or UDP packet.
struct CTransportHeader {
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  uint32_t seq = 0;      // 0 for UDP
  uint32_t ack = 0;      // 0 for UDP
  uint8_t tcpFlags = 0;  // TCP header byte 13; 0 for UDP
  int headerLength = 0;  // bytes: the TCP data offset, 8 for UDP
};

// Reads the TCP or UDP header that follows the packet's IP headers; a first
// fragment carries it like a whole packet, a later fragment has none and
// must not come here. Truncated when the header's fixed part was not
// captured; malformed for a TCP data offset below 20. Pure; any thread.
EReadResult ReadTcpHeader(const CIpPacket& ip, CTransportHeader& out);
EReadResult ReadUdpHeader(const CIpPacket& ip, CTransportHeader& out);
