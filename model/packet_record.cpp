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

std::size_t CPacketRecord::KeptBytes(const CPacketFields& fields, bool headerOnlyMode,
                                     std::size_t available) {
  if (headerOnlyMode) return 0;
  const int claimed = fields.totalLength - fields.headerLength;
  if (claimed <= 0) return 0;
  return std::min<std::size_t>(static_cast<std::size_t>(claimed), available);
}

CPacketRef MakePacketRecord(const CPacketFields& fields, bool headerOnlyMode,
                            std::span<const uint8_t> available) {
  const std::size_t keep = CPacketRecord::KeptBytes(fields, headerOnlyMode, available.size());
  uint8_t* tail = nullptr;
  try {
    return std::allocate_shared<CPacketRecord>(CRecordAllocator<CPacketRecord>(keep, &tail), fields,
                                               headerOnlyMode, available, tail);
  } catch (const std::bad_alloc&) {
    if (keep == 0) throw;
  }
  // Out of memory keeps the record without payload; the text views then
  // report the missing bytes, as they do for a frame captured short.
  return std::allocate_shared<CPacketRecord>(CRecordAllocator<CPacketRecord>(0, nullptr), fields,
                                             headerOnlyMode, available, nullptr);
}

CPacketRef CopyPacketRecord(const CPacketRecord& r) {
  CPacketRef copy = MakePacketRecord(r, r.headerOnly, r.Payload());
  copy->convId = r.convId;
  return copy;
}
