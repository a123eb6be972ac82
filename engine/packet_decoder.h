#pragma once
#include <cstdint>
#include <span>

#include "engine/decode_context.h"
#include "wire/time_stamp.h"

// What became of one packet. Everything but kRecorded leaves no trace in the
// model.
enum class EDecodeResult {
  kRecorded,
  kStopped,      // the context's running flag was 0
  kTruncated,    // IPv4 or transport header not fully captured
  kMalformed,    // a header contradicts itself (IPv4 version, IHL, TCP offset)
  kProtocol,     // neither TCP nor UDP
  kSwitchedOff,  // the TCP or UDP switch is off
  kNoPayload,    // total length not above the header length
  kNotLocal,     // neither sent nor received by the local host
  kFiltered,     // the filter rules refused the remote endpoint
  kFailed,       // an error (out of memory) ended the model update before the record
};

// Number of header bytes before the payload: IHL + TCP header length for TCP
// (6), IHL + 8 for UDP (17), 0 for any other protocol. Lengths in bytes.
int HeaderLength(int protocol, int ihl, int tcpHeaderLength);

// Decodes one IPv4 packet and, when it is a TCP or UDP packet with payload
// sent or received by the local host that the switches and filter rules
// accept, records it into the traffic model, trims the recent-packet list and
// runs the periodic log pass when it is due by the context's clock.
//
// `ipv4` runs from the IPv4 header to the end of the captured frame: every
// read stays inside it. A packet captured shorter than its IPv4 total length
// is recorded with the bytes captured; its counters use the total length.
// Ethernet padding past the total length is never payload.
//
// Runs on the context's thread; takes the traffic lock for the model update
// (the caller must not hold it); never takes the graph lock.
EDecodeResult ProcessPacket(CDecodeContext& context, std::span<const uint8_t> ipv4,
                            CTimeStamp time);
