#include "model/packet_record.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "model/record_pool.h"

namespace {

// Allocates the shared block of a record with `extra` bytes behind it for
// the payload, and says through `tail` where those bytes start. The control
// block keeps a copy of the allocator, so the block's size is known again
// when the last holder lets go.
template <typename T>
struct CRecordAllocator {
  using value_type = T;

  CRecordAllocator(std::size_t extraBytes, uint8_t** tailOut) : extra(extraBytes), tail(tailOut) {}
  template <typename U>
  CRecordAllocator(const CRecordAllocator<U>& other) : extra(other.extra), tail(other.tail) {}

  T* allocate(std::size_t n) {
    const std::size_t head = n * sizeof(T);
    void* block = CRecordPool::Instance().Allocate(head + extra);
    if (tail != nullptr) *tail = static_cast<uint8_t*>(block) + head;
    return static_cast<T*>(block);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    CRecordPool::Instance().Release(p, n * sizeof(T) + extra);
  }

  template <typename U>
  bool operator==(const CRecordAllocator<U>& other) const {
    return extra == other.extra;
  }

  std::size_t extra;
  uint8_t** tail;  // only read while the block is allocated
};

// The allocator of a record without payload (header-only, released, or out
// of memory): no state, so that the shared block holds the counts and the
// record and nothing else.
template <typename T>
struct CBareAllocator {
  using value_type = T;

  CBareAllocator() = default;
  template <typename U>
  CBareAllocator(const CBareAllocator<U>&) {}

  T* allocate(std::size_t n) { return static_cast<T*>(CRecordPool::Instance().Allocate(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { CRecordPool::Instance().Release(p, n * sizeof(T)); }

  template <typename U>
  bool operator==(const CBareAllocator<U>&) const {
    return true;
  }
};

}  // namespace

CPacketRecord::CPacketRecord(const CPacketFields& fields, bool headerOnlyMode,
                             std::span<const uint8_t> available, uint8_t* storage)
    : CPacketFields(fields), headerOnly(headerOnlyMode) {
  if (storage == nullptr) return;
  const std::size_t keep = KeptBytes(fields, headerOnlyMode, available.size());
  if (keep == 0) return;
  std::memcpy(storage, available.data(), keep);
  payload_ = storage;
  payloadSize_ = keep;
}


CPacketRef MakePacketRecord(const CPacketFields& fields, bool headerOnlyMode,
                            std::span<const uint8_t> available) {
  const std::size_t keep = CPacketRecord::KeptBytes(fields, headerOnlyMode, available.size());
  if (keep > 0) {
    uint8_t* tail = nullptr;
    try {
      return std::allocate_shared<CPacketRecord>(CRecordAllocator<CPacketRecord>(keep, &tail), fields,
                                                 headerOnlyMode, available, tail);
    } catch (const std::bad_alloc&) {
      // Out of memory keeps the record without payload; the text views then
      // report the missing bytes, as they do for a frame captured short.
    }
  }
  return std::allocate_shared<CPacketRecord>(CBareAllocator<CPacketRecord>(), fields, headerOnlyMode,
                                             available, nullptr);
}

// A record without payload and its counts fill one 128-byte block of the
// pool; tables at their bounds hold hundreds of thousands of them.
static_assert(sizeof(CPacketRecord) <= 112);

CPacketRef ReleasedPacketRecord(const CPacketRecord& r) {
  CPacketRef twin = std::allocate_shared<CPacketRecord>(CBareAllocator<CPacketRecord>(), r,
                                                        r.headerOnly, std::span<const uint8_t>(), nullptr);
  twin->convId = r.convId;
  twin->released = true;
  return twin;
}

CPacketRef CopyPacketRecord(const CPacketRecord& r) {
  CPacketRef copy = MakePacketRecord(r, r.headerOnly, r.Payload());
  copy->convId = r.convId;
  copy->released = r.released;
  return copy;
}
