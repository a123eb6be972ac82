#pragma once
#include <atomic>
#include <cstddef>
#include <vector>

// Recycles the memory blocks of packet records, each record with its payload
// in one block. The model frees records in bursts (a trimmed conversation
// takes hundreds with it) and makes them one by one at the capture rate;
// free lists per size class turn both into a pointer swap instead of the
// general allocator's splitting and merging of chunks.
//
// The free lists are stacks of pointers rather than links inside the blocks:
// taking a block reads nothing from it, since a block freed long ago is no
// longer in the cache. The block that the Allocate after next of a class
// will hand out is prefetched instead, so that filling it does not wait for
// memory.
//
// Blocks up to kLargestPooled bytes are pooled in classes of kClassBytes;
// larger ones go straight to the general allocator. At most kMaxFreeBytes
// wait in the free lists; past that, released blocks go back to the general
// allocator, so the pool never holds much more than the model's bounds.
//
// Any thread: a record may be released by whichever holder drops it last.
// The free lists are guarded by a spin lock: it is held for a pointer swap
// and nearly always taken by the recording thread alone, where a mutex's
// two calls cost more than the work they guard.
class CRecordPool {
 public:
  static constexpr std::size_t kClassBytes = 64;
  static constexpr std::size_t kLargestPooled = 2048;
  static constexpr std::size_t kMaxFreeBytes = 32u << 20;
  // Under AddressSanitizer every block goes straight back to the allocator,
  // so that a record used after its release is still caught.
#if defined(__SANITIZE_ADDRESS__)
  static constexpr bool kEnabled = false;
#else
  static constexpr bool kEnabled = true;
#endif

  // The process's pool. Never destroyed, so that records released during
  // static destruction still find it.
  static CRecordPool& Instance();

  // A block of at least `bytes` bytes, aligned for any scalar type. Throws
  // std::bad_alloc when memory runs out.
  void* Allocate(std::size_t bytes);
  // Returns a block from Allocate with the same `bytes`.
  void Release(void* block, std::size_t bytes) noexcept;

  // Bytes waiting in the free lists.
  std::size_t FreeBytes() const;

 private:
  static constexpr std::size_t kClasses = kLargestPooled / kClassBytes;

  CRecordPool() = default;

  // Holds the spin lock while it lives.
  class CHeld {
   public:
    explicit CHeld(std::atomic<bool>& flag);
    ~CHeld() { flag_.store(false, std::memory_order_release); }
    CHeld(const CHeld&) = delete;
    CHeld& operator=(const CHeld&) = delete;

   private:
    std::atomic<bool>& flag_;
  };

  mutable std::atomic<bool> locked_{false};
  std::vector<void*> free_[kClasses];
  std::size_t freeBytes_ = 0;
};
