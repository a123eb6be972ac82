#include "model/record_pool.h"

#include <new>
#include <thread>

namespace {

// Class index of a block size; sizes above the largest class are not pooled.
std::size_t ClassOf(std::size_t bytes) {
  return (bytes + CRecordPool::kClassBytes - 1) / CRecordPool::kClassBytes - 1;
}

}  // namespace

CRecordPool::CHeld::CHeld(std::atomic<bool>& flag) : flag_(flag) {
  while (flag_.exchange(true, std::memory_order_acquire)) {
    // Another thread releases a record: it holds the lock for a few
    // instructions, unless it was preempted there.
    while (flag_.load(std::memory_order_relaxed)) std::this_thread::yield();
  }
}

CRecordPool& CRecordPool::Instance() {
  static CRecordPool* pool = new CRecordPool;
  return *pool;
}

void* CRecordPool::Allocate(std::size_t bytes) {
  if (!kEnabled || bytes == 0 || bytes > kLargestPooled) return ::operator new(bytes == 0 ? 1 : bytes);
  const std::size_t c = ClassOf(bytes);
  {
    const CHeld held(locked_);
    std::vector<void*>& list = free_[c];
    if (!list.empty()) {
      void* block = list.back();
      list.pop_back();
      freeBytes_ -= (c + 1) * kClassBytes;
      if (list.size() >= 2) {
        // The record and its payload are written as soon as they are
        // made. The block after next is asked for now, so that its lines
        // have two packets' time to arrive: asked for only one packet
        // ahead, they are still on their way when the copy begins.
        const char* later = static_cast<const char*>(list[list.size() - 2]);
        for (std::size_t off = 0; off < (c + 1) * kClassBytes; off += 64) {
          __builtin_prefetch(later + off, 1);
        }
      }
      return block;
    }
  }
  return ::operator new((c + 1) * kClassBytes);
}

void CRecordPool::Release(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return;
  if (!kEnabled || bytes == 0 || bytes > kLargestPooled) {
    ::operator delete(block);
    return;
  }
  const std::size_t c = ClassOf(bytes);
  const std::size_t size = (c + 1) * kClassBytes;
  {
    const CHeld held(locked_);
    if (freeBytes_ + size <= kMaxFreeBytes) {
      try {
        free_[c].push_back(block);
        freeBytes_ += size;
        return;
      } catch (const std::bad_alloc&) {
        // No room to remember the block: it goes back to the allocator.
      }
    }
  }
  ::operator delete(block);
}

std::size_t CRecordPool::FreeBytes() const {
  const CHeld held(locked_);
  return freeBytes_;
}
