#pragma once
#include <cstdint>
#include <vector>

#include "wire/ip_address.h"
#include "wire/time_stamp.h"

// Counters of one remote port of a host.
struct CPortRecord {
  uint64_t bytesSent = 0;
  uint64_t bytesReceived = 0;
  uint64_t packets = 0;  // both directions
  uint16_t port = 0;
  CTimeStamp lastTime;
};

// Counters of one remote host, with its ports in ascending order.
struct CHostRecord {
  static constexpr std::size_t kMaxPorts = 100;

  CIpAddr address{};
  uint64_t bytesSent = 0;
  uint64_t bytesReceived = 0;
  uint64_t packetsSent = 0;
  uint64_t packetsReceived = 0;
  std::vector<CPortRecord> ports;
  CTimeStamp lastTime;
};
