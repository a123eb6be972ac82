#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "model/traffic_types.h"
#include "processes/process_owner.h"
#include "wire/ip_address.h"
#include "wire/time_stamp.h"

// The start of one direction's data as the lists and logs summarise it: the
// first bytes of the first kept record of that direction (the one with the
// lowest sequence number).
struct CDataStart {
  static constexpr std::size_t kBytes = 80;

  bool present = false;     // the direction has a kept record
  bool headerOnly = false;  // that record kept no payload by choice
  uint8_t length = 0;       // bytes used in `bytes`
  std::array<uint8_t, kBytes> bytes{};

  std::span<const uint8_t> Bytes() const { return {bytes.data(), length}; }
};

// A copy of what every consumer of a finished conversation needs, taken
// under the traffic lock when the conversation becomes final (closed by the
// next exchange, trimmed, cleared, at Stop or at the end of a replay). A
// plain value: it may travel to any thread.
struct CConversationSnapshot {
  enum TimeIndex { kFirstTime = 0, kOpeningEndTime = 1, kReplyStartTime = 2, kLastTime = 3 };

  int convId = 0;
  EHostRole role = EHostRole::kClient;
  uint8_t protocol = 0;  // 6 TCP, 17 UDP
  CIpAddr local;
  CIpAddr remote;
  uint16_t localPort = 0;
  uint16_t remotePort = 0;
  uint64_t bytesSent = 0;  // IP lengths as the headers claim them
  uint64_t bytesReceived = 0;
  uint64_t packetsSent = 0;
  uint64_t packetsReceived = 0;
  // First packet, end of the opening direction, start of the reply, last
  // packet; the reply times equal the last time while there is no reply.
  std::array<CTimeStamp, 4> times{};
  CDataStart sentStart;
  CDataStart receivedStart;
  std::string remoteName;  // the name the connection carried; empty: none
  CProcessOwner process;      // pending: unknown (and always in a replay)
  CProcessOwner peerProcess;  // both ends local: the other end's program

  // True when both directions carried packets.
  bool Answered() const { return packetsSent > 0 && packetsReceived > 0; }
};
