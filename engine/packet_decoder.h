#pragma once
#include <cstdint>
#include <span>

#include "engine/packet_name_reader.h"
#include "wire/time_stamp.h"

class CCaptureSession;
class CInterfaceRecord;

// What became of one packet. Everything but kRecorded leaves no trace in the
// model.
enum class EDecodeResult {
  kRecorded,
  kTruncated,    // IP, extension or transport header not fully captured
  kMalformed,    // a header contradicts itself (IP version, IHL, TCP offset, jumbogram)
  kProtocol,     // neither TCP nor UDP (ICMPv6, ESP, AH, No Next Header, ...)
  kSwitchedOff,  // the TCP or UDP switch is off
  kNoPayload,    // total length not above the header length
  kNotLocal,     // neither sent nor received by the local host
  kFiltered,     // the filter rules refused the remote endpoint
  kFailed,       // an error (out of memory) ended the model update before the record
};

// The step from an IPv4 or IPv6 packet to the traffic model, for one trace or
// replay: reads the IP headers (IPv6 extension headers included) and the
// transport header, keeps TCP and UDP packets with payload
// that the switches allow, tells sent from received by the local host's
// addresses, asks the filter rules about the remote endpoint and records
// the packet into the session.
//
// Used by one thread (the capture or replay thread). The session and the
// local host's record must outlive it.
class CPacketDecoder {
 public:
  CPacketDecoder(CCaptureSession& session, const CInterfaceRecord& local);

  // `ip` runs from the IP header to the end of the captured frame: every
  // read stays inside it; its version nibble picks IPv4 or IPv6. A packet
  // captured shorter than its claimed length (IPv4 total length, 40 + IPv6
  // payload length) is recorded with the bytes captured; its counters use
  // the claimed length.
  // Padding past the claimed length is never payload. Takes the session's
  // traffic lock for the model update (the caller must not hold it).
  EDecodeResult Decode(std::span<const uint8_t> ip, CTimeStamp time);

 private:
  CCaptureSession& session_;
  const CInterfaceRecord& local_;
  CPacketNameReader names_;
};
