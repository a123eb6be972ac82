#include "flows/flow_record.h"

namespace {

int64_t Micros(const CTimeStamp& t) {
  return static_cast<int64_t>(t.sec) * 1000000 + t.usec;
}

// Capture times before 1970 only come from broken files; they export as 0
// rather than as a huge unsigned number.
uint64_t Millis(const CTimeStamp& t) {
  const int64_t us = Micros(t);
  return us > 0 ? static_cast<uint64_t>(us / 1000) : 0;
}

}  // namespace

CFlowRecord CFlowRecord::FromSnapshot(const CConversationSnapshot& s) {
  using T = CConversationSnapshot;
  CFlowRecord r;
  r.protocol = s.protocol;
  const bool localOpened = s.role == EHostRole::kClient;
  r.source = localOpened ? s.local : s.remote;
  r.destination = localOpened ? s.remote : s.local;
  r.sourcePort = localOpened ? s.localPort : s.remotePort;
  r.destinationPort = localOpened ? s.remotePort : s.localPort;
  r.octets = localOpened ? s.bytesSent : s.bytesReceived;
  r.packets = localOpened ? s.packetsSent : s.packetsReceived;
  r.reverseOctets = localOpened ? s.bytesReceived : s.bytesSent;
  r.reversePackets = localOpened ? s.packetsReceived : s.packetsSent;
  r.startMs = Millis(s.times[T::kFirstTime]);
  r.endMs = Millis(s.times[T::kLastTime]);
  if (s.Answered()) {
    // A reply stamped before the request ended (reordered capture) counts
    // as an immediate answer.
    const int64_t d = Micros(s.times[T::kReplyStartTime]) - Micros(s.times[T::kOpeningEndTime]);
    r.timeToFirstAnswerUs = d > 0 ? static_cast<uint64_t>(d) : 0;
  }
  return r;
}
