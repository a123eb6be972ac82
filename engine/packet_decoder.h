#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "engine/packet_name_reader.h"
#include "engine/process_tagger.h"
#include "model/traffic_types.h"
#include "wire/ip_address.h"
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

// Which way a packet went, seen from the local host. The local host owns
// `local`'s addresses and the loopback ones (127.0.0.0/8, ::1). A packet
// between two of them would otherwise count as sent from both ends, so its
// direction comes from the ports instead: the higher port is the client's
// ephemeral end, and `role` says which end is the local one. In Client role
// a packet is sent when its source port is higher than or equal to its
// destination port, in Server role when it is lower or equal; a request and
// its answer then meet in one conversation. Every other packet is judged by
// `local` alone (CInterfaceRecord::Direction). Pure; any thread.
EDirection PacketDirection(const CInterfaceRecord& local, const CIpAddr& source, uint16_t sourcePort,
                           const CIpAddr& destination, uint16_t destinationPort, EHostRole role);

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

  // A live trace between packets: applies the program names that landed.
  void Idle() {
    if (tagger_) tagger_->Land();
  }
  // At the end of a live trace: waits at most `ms` for names still out.
  void Drain(int ms) {
    if (tagger_) tagger_->Drain(ms);
  }

 private:
  CCaptureSession& session_;
  const CInterfaceRecord& local_;
  CPacketNameReader names_;
  std::optional<CProcessTagger> tagger_;  // live sessions that name programs
  static constexpr unsigned kLandEvery = 64;
  unsigned sinceLanded_ = 0;
};
