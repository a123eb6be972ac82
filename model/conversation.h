#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/ip_address.h"
#include "model/conversation_snapshot.h"
#include "model/packet_record.h"
#include "processes/process_owner.h"
#include "wire/time_stamp.h"

// One request/response exchange between the local host and one remote
// endpoint over one protocol. Owned by the conversation table; every access
// happens under the traffic lock.
class CConversation {
 public:
  static constexpr std::size_t kMaxRecordsPerDirection = 300;

  enum TimeIndex { kFirstTime = 0, kOpeningEndTime = 1, kReplyStartTime = 2, kLastTime = 3 };

  // How a record relates to this conversation.
  enum class EMatch {
    kOther,        // not this conversation
    kSame,         // part of this exchange
    kNewExchange,  // same endpoints, but it starts the next exchange
  };

  CConversation(int id, EHostRole role) : convId(id), hostRole(role) {}

  // Conversations come and go with the traffic, 400 at a time when the table
  // is trimmed; they take their memory from the record pool.
  static void* operator new(std::size_t bytes);
  static void operator delete(void* p, std::size_t bytes) noexcept;
  ~CConversation();

  // kNewExchange closes the conversation: it is final from then on.
  EMatch Match(const CPacketRecord& r);

  // Counts the record, stamps it with this ConvId, updates the four times and
  // keeps it in sequence order unless its direction already holds 300.
  // `role` is the host role in force. True when the record was kept.
  bool Add(const CPacketRef& r, EHostRole role);

  // Puts a released stand-in (ReleasedPacketRecord) in place of the kept
  // record `r` of `direction`. 1 when done, 0 when this conversation does
  // not keep `r`, -1 when memory ran out for the stand-in.
  int Release(const CPacketRecord* r, EDirection direction);

  // The elapsed time from the first to the last packet, in microseconds.
  int64_t ResponseMicros() const;

  // True when a record of this direction carries this IP identification.
  bool HasIdentification(EDirection direction, uint32_t identification) const;

  // The values a consumer of a finished conversation needs.
  CConversationSnapshot Snapshot() const;

  int convId;
  // Final: closed by the next exchange, or by the end of its session. Later
  // fragments may still join it.
  bool closed = false;
  EHostRole hostRole;
  std::vector<CPacketRef> received;  // ascending sequence number
  std::vector<CPacketRef> sent;      // ascending sequence number
  uint16_t protocol = 0;
  CIpAddr remote{};
  CIpAddr local{};
  uint16_t remotePort = 0;
  uint16_t localPort = 0;
  uint64_t bytesSent = 0;
  uint64_t bytesReceived = 0;
  uint64_t packetsSent = 0;
  uint64_t packetsReceived = 0;
  std::array<CTimeStamp, 4> times{};
  // The server name its opening bytes carried (TLS server name, HTTP Host),
  // set once; empty while none was seen. The next exchange of the same
  // endpoints inherits it: the connection goes on.
  std::string remoteName;
  // The program that owns the local socket, and, when both ends are on
  // this host, the one at the other end. Live traces only; both stay
  // pending in a replay. `processAsked`: the look-up was asked for.
  CProcessOwner process;
  CProcessOwner peerProcess;
  bool processAsked = false;
  // The start of each direction's first kept record, copied when it was
  // kept: the summaries stay the same when the record's payload is released.
  CDataStart sentStart;
  CDataStart receivedStart;
  // Payload bytes of the kept records not yet released, and how many
  // records hold them.
  std::size_t payloadHeld = 0;
  std::size_t recordsHoldingPayload = 0;

 private:
  static constexpr std::size_t kInitialRecords = 32;

  static void ReleaseRecords(std::vector<CPacketRef>& list);

  // The identifications of the kept records of each direction, in arrival
  // order: a later fragment's search reads these compact copies instead of
  // every record.
  std::vector<uint32_t> sentIds_;
  std::vector<uint32_t> receivedIds_;
};
