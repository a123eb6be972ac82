#pragma once
#include <cstdint>
#include <string>

#include "model/conversation_snapshot.h"
#include "wire/ip_address.h"

// One flow as it is exported: one request/response exchange, oriented from
// the side that opened it. A plain value; any thread.
struct CFlowRecord {
  // The longest process name exported, in bytes: a record must stay well
  // inside one datagram.
  static constexpr std::size_t kMaxProcessName = 255;

  uint8_t protocol = 0;  // 6 TCP, 17 UDP
  CIpAddr source;        // the side that opened the exchange
  CIpAddr destination;   // same family as `source`
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  uint64_t startMs = 0;  // first packet, milliseconds since 1970
  uint64_t endMs = 0;    // last packet
  uint64_t octets = 0;   // source -> destination, IP lengths
  uint64_t packets = 0;
  uint64_t reverseOctets = 0;  // destination -> source
  uint64_t reversePackets = 0;
  // From the end of the opening direction to the start of the reply;
  // 0 when there was no reply (then reversePackets is 0 too).
  uint64_t timeToFirstAnswerUs = 0;
  // The local process that owned the exchange; empty while unknown. Nothing
  // fills it yet: the process lookup will set it before the record is queued.
  std::string processName;

  // The record of a finished conversation: in the Client role the local
  // host opened the exchange, in the Server role the remote side did.
  static CFlowRecord FromSnapshot(const CConversationSnapshot& s);
};
