#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/traffic_types.h"

class CPacketRecord;

// The payload bytes that the kept records of a conversation table hold, and
// the order in which they were kept, so that the oldest can be let go first
// when the memory limit is reached.
//
// An entry names its record by address and ConvId and is never used to
// reach the record directly: the table looks the ConvId up, and only a
// record still kept in that conversation's list is touched. A conversation
// that goes away takes its bytes off the total at once (Forget); its
// entries stay behind until they are popped or compacted away, and a
// ConvId below the oldest live one says that they are stale.
//
// Not thread-safe: the traffic lock guards it with the table.
class CPayloadLedger {
 public:
  struct CEntry {
    const CPacketRecord* record;
    int convId;
    uint32_t bytes : 31;
    uint32_t sent : 1;  // the direction's list that keeps the record

    EDirection Direction() const { return sent != 0 ? EDirection::kSent : EDirection::kReceived; }
  };

  // A record of `bytes` payload bytes (above 0) was kept by conversation
  // `convId`. Once per kept packet: inline.
  void Add(const CPacketRecord* record, int convId, EDirection direction, std::size_t bytes) {
    entries_.push_back({record, convId, static_cast<uint32_t>(bytes),
                        direction == EDirection::kSent ? 1u : 0u});
    held_ += bytes;
    ++live_;
  }

  // A conversation went away with `bytes` payload bytes in `records`
  // records that still held them.
  void Forget(std::size_t bytes, std::size_t records);

  // Lets go of the oldest payloads while more than `limit` bytes are held.
  // `release(entry)` is asked for each: it answers 1 when it let the
  // entry's payload go, 0 when the entry was stale (its bytes were
  // forgotten already) and -1 when it could not (memory ran out): the
  // entry then stays for the next time.
  template <typename F>
  void Trim(std::size_t limit, F&& release);

  // True when popped and stale entries have piled up well past the live
  // ones.
  bool NeedsCompaction() const { return entries_.size() > 2 * live_ + kCompactionSlack; }
  // Drops the popped entries and those of conversations older than
  // `firstLiveConvId`.
  void Compact(int firstLiveConvId);

  uint64_t HeldBytes() const { return held_; }
  uint64_t ReleasedBytes() const { return released_; }

 private:
  static constexpr std::size_t kCompactionSlack = 4096;

  // Oldest first from `head_`; the ones before it were popped. A vector
  // with a moving head costs a kept packet less than a deque would.
  std::vector<CEntry> entries_;
  std::size_t head_ = 0;
  std::size_t live_ = 0;  // entries whose record still holds its payload
  uint64_t held_ = 0;
  uint64_t released_ = 0;
};

template <typename F>
void CPayloadLedger::Trim(std::size_t limit, F&& release) {
  while (held_ > limit && head_ < entries_.size()) {
    const CEntry e = entries_[head_];
    const int outcome = release(e);
    if (outcome < 0) return;
    ++head_;
    if (outcome > 0) {
      held_ -= e.bytes;
      released_ += e.bytes;
      --live_;
    }
  }
}
