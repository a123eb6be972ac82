#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

// A bounded queue between exactly one producer thread and one consumer
// thread. Neither side ever waits or takes a lock: a push into a full ring
// and a pop from an empty one fail at once. `Capacity` is a power of two.
template <typename T, std::size_t Capacity>
class CSpscRing {
  static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "Capacity must be a power of two");

 public:
  CSpscRing() : slots_(Capacity) {}

  // Producer thread only.
  bool TryPush(T value) {
    const uint64_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) == Capacity) return false;
    slots_[head & (Capacity - 1)] = std::move(value);
    head_.store(head + 1, std::memory_order_release);
    return true;
  }

  // Consumer thread only. The slot is emptied, so that what it held (shared
  // pointers) is released on the consumer's side.
  bool TryPop(T& out) {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    if (tail == head_.load(std::memory_order_acquire)) return false;
    T& slot = slots_[tail & (Capacity - 1)];
    out = std::move(slot);
    slot = T{};
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }

  // Either side; exact for the consumer, a hint for the producer.
  bool Empty() const {
    return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
  }

 private:
  static constexpr std::size_t kLine = 64;
  std::vector<T> slots_;
  alignas(kLine) std::atomic<uint64_t> head_{0};  // next slot to fill
  alignas(kLine) std::atomic<uint64_t> tail_{0};  // next slot to take
};
