#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "model/bucket_ring.h"
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

// What one host moved in one 5-second bucket.
struct CHostBucket {
  uint64_t bytesSent = 0;
  uint64_t bytesReceived = 0;
  uint64_t packetsSent = 0;
  uint64_t packetsReceived = 0;
};

// Counters of one remote host, with its ports in ascending order, and the
// same counters for each of the graph's 40 buckets, so that a range of the
// graph can be asked about.
struct CHostRecord {
  static constexpr std::size_t kMaxPorts = 100;

  CIpAddr address{};
  uint64_t bytesSent = 0;
  uint64_t bytesReceived = 0;
  uint64_t packetsSent = 0;
  uint64_t packetsReceived = 0;
  std::vector<CPortRecord> ports;
  CTimeStamp lastTime;
  // Held apart: the table keeps its hosts in a sorted vector, and an insert
  // moves every host behind it.
  std::unique_ptr<CBucketRing<CHostBucket>> recent = std::make_unique<CBucketRing<CHostBucket>>();
};
