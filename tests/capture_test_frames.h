#pragma once
// Builders of IPv4 packets and link-layer frames for the capture tests.
#include <cstdint>
#include <vector>

#include "wire/ip_address.h"

struct CTestPacket {
  uint8_t protocol = 6;
  CIpAddr source = CIpAddr(10, 0, 0, 1);
  CIpAddr destination = CIpAddr(10, 0, 5, 5);
  uint16_t sourcePort = 40000;
  uint16_t destinationPort = 80;
  int optionWords = 0;     // IPv4 options, 4 bytes each
  int tcpOptionWords = 0;  // TCP options, 4 bytes each
  int payload = 10;
  uint16_t identification = 0x1234;
  uint16_t flagsOffset = 0;
  uint8_t ttl = 64;
  uint8_t tcpFlags = 0x18;
  uint32_t seq = 0x01020304;
  uint32_t ack = 0x0a0b0c0d;
  int totalLengthDelta = 0;  // added to the true total length in the header
};

inline void PutU16(std::vector<uint8_t>& b, std::size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

inline void PutU32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
  PutU16(b, at, static_cast<uint16_t>(v >> 16));
  PutU16(b, at + 2, static_cast<uint16_t>(v));
}

// An IPv4 packet; the payload bytes count up from 'a'.
inline std::vector<uint8_t> Ipv4Packet(const CTestPacket& p) {
  const std::size_t ihl = 20 + 4 * static_cast<std::size_t>(p.optionWords);
  const std::size_t transport =
      p.protocol == 6 ? 20 + 4 * static_cast<std::size_t>(p.tcpOptionWords)
                      : 8;
  const std::size_t total = ihl + transport + static_cast<std::size_t>(p.payload);
  std::vector<uint8_t> b(total, 0);
  b[0] = static_cast<uint8_t>(0x40 | (ihl / 4));
  PutU16(b, 2, static_cast<uint16_t>(static_cast<int>(total) + p.totalLengthDelta));
  PutU16(b, 4, p.identification);
  PutU16(b, 6, p.flagsOffset);
  b[8] = p.ttl;
  b[9] = p.protocol;
  for (int i = 0; i < 4; ++i) {
    b[12 + i] = p.source[i];
    b[16 + i] = p.destination[i];
  }
  for (std::size_t i = 20; i < ihl; ++i) b[i] = 1;  // NOP options
  PutU16(b, ihl, p.sourcePort);
  PutU16(b, ihl + 2, p.destinationPort);
  if (p.protocol == 6) {
    PutU32(b, ihl + 4, p.seq);
    PutU32(b, ihl + 8, p.ack);
    b[ihl + 12] = static_cast<uint8_t>((transport / 4) << 4);
    b[ihl + 13] = p.tcpFlags;
  } else {
    PutU16(b, ihl + 4, static_cast<uint16_t>(transport + static_cast<std::size_t>(p.payload)));
  }
  for (int i = 0; i < p.payload; ++i)
    b[ihl + transport + static_cast<std::size_t>(i)] = static_cast<uint8_t>('a' + i % 26);
  return b;
}

inline std::vector<uint8_t> WithPrefix(std::vector<uint8_t> prefix, const std::vector<uint8_t>& body) {
  prefix.insert(prefix.end(), body.begin(), body.end());
  return prefix;
}

// Ethernet II; frames below 60 bytes are padded as a network card pads them.
inline std::vector<uint8_t> EthernetFrame(const std::vector<uint8_t>& body, uint16_t etherType = 0x0800,
                                          bool pad = true) {
  std::vector<uint8_t> h(14, 0);
  for (int i = 0; i < 6; ++i) h[static_cast<std::size_t>(i)] = 0x02, h[6 + static_cast<std::size_t>(i)] = 0x04;
  PutU16(h, 12, etherType);
  std::vector<uint8_t> f = WithPrefix(h, body);
  if (pad && f.size() < 60) f.resize(60, 0);
  return f;
}

// Linux cooked capture v1: packet type, ARPHRD, address length, address, protocol.
inline std::vector<uint8_t> SllFrame(const std::vector<uint8_t>& body, uint16_t protocol = 0x0800) {
  std::vector<uint8_t> h(16, 0);
  PutU16(h, 0, 4);  // sent by us
  PutU16(h, 2, 1);  // ARPHRD_ETHER
  PutU16(h, 4, 6);
  PutU16(h, 14, protocol);
  return WithPrefix(h, body);
}

// Linux cooked capture v2: protocol first, then interface index and the rest.
inline std::vector<uint8_t> Sll2Frame(const std::vector<uint8_t>& body, uint16_t protocol = 0x0800) {
  std::vector<uint8_t> h(20, 0);
  PutU16(h, 0, protocol);
  PutU32(h, 4, 2);  // interface index
  PutU16(h, 8, 1);  // ARPHRD_ETHER
  h[11] = 6;
  return WithPrefix(h, body);
}
