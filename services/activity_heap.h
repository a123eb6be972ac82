#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The slots of a bounded table ordered by last activity, so that the least
// recently active one is found in O(1) and every update costs O(log n): a
// binary min-heap of (activity, slot) with each slot's heap position kept
// beside it. Slots are 0 .. capacity - 1. All memory is taken by the
// constructor.
//
// Not thread-safe; its owner's lock guards it.
class CActivityHeap {
 public:
  explicit CActivityHeap(std::size_t capacity);

  // `slot` must not be in the heap.
  void Push(std::size_t slot, int64_t activity);
  // `slot` must be in the heap; `activity` may move either way.
  void Update(std::size_t slot, int64_t activity);
  // The slot with the lowest activity (the earliest pushed among equals is
  // not promised) and that activity. The heap must not be empty.
  std::size_t MinSlot() const { return heap_.front().slot; }
  int64_t MinActivity() const { return heap_.front().activity; }
  // Removes MinSlot().
  void PopMin();

  std::size_t Size() const { return heap_.size(); }
  void Clear();

 private:
  struct Entry {
    int64_t activity;
    std::size_t slot;
  };
  void Place(std::size_t at, const Entry& e);
  void SiftUp(std::size_t at);
  void SiftDown(std::size_t at);

  std::vector<Entry> heap_;
  std::vector<std::size_t> position_;  // by slot: where it sits in heap_
};
