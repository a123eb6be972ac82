#pragma once
// Builders of decoded packets for the model's tests.
#include <cstdint>
#include <vector>

#include "model/packet_record.h"

inline CPacketFields TcpFields(int direction, uint32_t seq, int payload,
                               CTimeStamp t = {1000, 0},
                               CIpAddr remote = CIpAddr(10, 0, 5, 5),
                               uint16_t remotePort = 80, uint16_t localPort = 40000) {
  CPacketFields f;
  f.direction = direction;
  f.protocol = 6;
  f.seq = seq;
  f.time = t;
  f.headerLength = 40;
  f.totalLength = 40 + payload;
  f.local = CIpAddr(10, 0, 0, 1);
  f.remote = remote;
  f.localPort = localPort;
  f.remotePort = remotePort;
  f.ttl = 64;
  f.tcpFlags = 0x18;
  return f;
}

inline CPacketFields UdpFields(int direction, int payload, CTimeStamp t = {1000, 0},
                               CIpAddr remote = CIpAddr(10, 0, 5, 5)) {
  CPacketFields f = TcpFields(direction, 0, payload, t, remote, 53, 5353);
  f.protocol = 17;
  f.tcpFlags = 0;
  f.headerLength = 28;
  f.totalLength = 28 + payload;
  return f;
}

// A TCP first fragment: ports unknown (0) until it finds its conversation.
inline CPacketFields FragmentFields(int direction, uint16_t id, CTimeStamp t = {1000, 0}) {
  CPacketFields f = TcpFields(direction, 0, 100, t);
  f.fragment = 1;
  f.identification = id;
  f.localPort = 0;
  f.remotePort = 0;
  return f;
}

inline std::vector<uint8_t> Bytes(std::size_t n, uint8_t fill = 'x') {
  return std::vector<uint8_t>(n, fill);
}
