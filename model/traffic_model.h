#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>

#include "model/cancel_token.h"
#include "model/conversation_table.h"
#include "model/host_table.h"
#include "model/packet_record.h"
#include "model/traffic_sampler.h"

// How a packet is recorded: the switches in force when it arrived.
struct CRecordOptions {
  bool headerOnly = false;  // keep no payload
  EHostRole role = EHostRole::kClient;
  // The payload the kept records may hold; the oldest go past it.
  std::size_t payloadLimit = SIZE_MAX;
};

// Everything a session builds from the traffic. Every member is guarded by
// the session's traffic lock.
class CTrafficModel {
 public:
  static constexpr std::size_t kMaxRecent = 100;
  static constexpr std::size_t kTrimmedRecent = 90;

  // `cancel` ends the long loops early; it must outlive the model.
  explicit CTrafficModel(const CCancelToken& cancel) : conversations(cancel) {}

  CTrafficModel(const CTrafficModel&) = delete;
  CTrafficModel& operator=(const CTrafficModel&) = delete;

  // Records one decoded packet into the host table, the sampler, the
  // conversation table and the recent-packet list, in that order, trims
  // the recent list and keeps the payload held within the limit, releasing
  // the oldest payloads first.
  // `available` holds the captured payload bytes. A record whose payload
  // found no memory is kept without it and counted in `notStored`; when
  // the record itself finds none, std::bad_alloc leaves what was counted
  // before it.
  CPacketRef Record(const CPacketFields& fields, std::span<const uint8_t> available,
                    const CRecordOptions& options);

  // Empties the recent-packet list; the records stay with their owners.
  void ClearRecent();

  CConversationTable conversations;
  CHostTable hosts;
  CTrafficSampler sampler;
  std::deque<CPacketRef> recent;  // oldest first, at most kMaxRecent
  // Packets recorded so far: a change tells the live view there is news.
  uint64_t recordedCount = 0;
  // Packets whose record or payload found no memory (the session counts
  // the records it could not make at all).
  uint64_t notStored = 0;

 private:
  // Drops the oldest recent records once there are more than 100, keeping 90.
  void TrimRecent();
};
