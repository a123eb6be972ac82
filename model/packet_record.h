#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "model/traffic_types.h"
#include "wire/ip_address.h"
#include "wire/time_stamp.h"

// The values the decoder takes from one packet's headers, with the local and
// remote roles already assigned by direction.
//
// Ordered so that no padding stands between the members: a released record
// keeps only these, and the tables hold hundreds of thousands of them.
struct CPacketFields {
  uint32_t seq = 0;            // 0 for UDP
  uint32_t ack = 0;            // 0 for UDP
  // IPv4's 16 bits, or IPv6's 32-bit Fragment header identification (0
  // without one).
  uint32_t identification = 0;
  CTimeStamp time;
  int totalLength = 0;         // IPv4 total length, or 40 + IPv6 payload length, as claimed
  int headerLength = 0;        // IP (IPv6: with extensions) + transport header bytes before the payload
  uint16_t localPort = 0;
  uint16_t remotePort = 0;
  CIpAddr local{};
  CIpAddr remote{};
  bool fragment = false;       // More Fragments bit (IPv6: the Fragment header's M) was set
  // Fragment offset above 0: no transport header, ports, seq and ack 0; the
  // conversation table files it by its identification.
  bool laterFragment = false;
  uint8_t tcpFlags = 0;        // TCP header byte 13; 0 for UDP
  EDirection direction = EDirection::kNone;
  uint8_t ttl = 0;
  uint8_t protocol = 0;        // 6 or 17

  // Any piece of a fragmented datagram: the first one included.
  bool IsFragment() const { return fragment || laterFragment; }
};

// One recorded packet: its header values and, unless header-only mode was on
// when it was made, a copy of its payload.
//
// Records are shared: a conversation (or the pending-fragment list) owns a
// record, and the recent-packet list refers to it too. A record lives as long
// as one of them still holds it, so the recent list can never reach a freed
// record, and a record no owner kept goes away once the recent list drops it.
// Every access happens under the traffic lock, except that a record already
// filed into a conversation changes no more: a copy of its reference may be
// read without the lock (Show and the export render such copies).
class CPacketRecord : public CPacketFields {
 public:
  // `available` holds the payload bytes that were captured; the record keeps
  // KeptBytes() of them in `storage`, which must have room for that many and
  // live as long as the record (MakePacketRecord puts it in the record's own
  // block). A null `storage` keeps no payload, as when memory ran out.
  CPacketRecord(const CPacketFields& fields, bool headerOnlyMode,
                std::span<const uint8_t> available, uint8_t* storage);
  CPacketRecord(const CPacketRecord&) = delete;
  CPacketRecord& operator=(const CPacketRecord&) = delete;

  int convId = 0;           // set when the record is added to a conversation
  bool headerOnly = false;  // header-only mode at creation: no payload kept
  // The payload was let go to stay within the memory limit: this record
  // stands in for the one that held it (see ReleasedPacketRecord).
  bool released = false;

  // The payload length the IP header claims: total length - header length.
  int PayloadLength() const { return totalLength - headerLength; }

  // The payload bytes this record kept.
  std::span<const uint8_t> Payload() const { return {payload_, payloadSize_}; }

  // How many payload bytes a record of these fields keeps: none in
  // header-only mode, else the claimed payload length bounded by the bytes
  // captured.
  static std::size_t KeptBytes(const CPacketFields& fields, bool headerOnlyMode,
                               std::size_t available) {
    if (headerOnlyMode) return 0;
    const int claimed = fields.totalLength - fields.headerLength;
    if (claimed <= 0) return 0;
    return std::min(static_cast<std::size_t>(claimed), available);
  }

 private:
  const uint8_t* payload_ = nullptr;
  std::size_t payloadSize_ = 0;
};

using CPacketRef = std::shared_ptr<CPacketRecord>;

// Creates a record; the single place where records are allocated. The record,
// its shared count and its payload share one block from CRecordPool.
CPacketRef MakePacketRecord(const CPacketFields& fields, bool headerOnlyMode,
                            std::span<const uint8_t> available);

// A record with the fields, ConvId and header-only mode of `r` and no
// payload, marked released. A conversation keeps it in place of `r` when
// the memory limit needs the payload back: `r` itself never changes, so a
// reader still rendering it keeps its bytes until it lets go.
CPacketRef ReleasedPacketRecord(const CPacketRecord& r);

// A private copy of `r` (fields, ConvId, header-only mode and kept payload),
// for readers that render it later without the traffic lock while the
// original may still change (a pending fragment gets its ConvId and ports
// when it is filed). Caller holds the traffic lock.
CPacketRef CopyPacketRecord(const CPacketRecord& r);
