#include "services/activity_heap.h"

CActivityHeap::CActivityHeap(std::size_t capacity) : position_(capacity, 0) {
  heap_.reserve(capacity);
}

void CActivityHeap::Push(std::size_t slot, int64_t activity) {
  heap_.push_back({activity, slot});
  position_[slot] = heap_.size() - 1;
  SiftUp(heap_.size() - 1);
}

void CActivityHeap::Update(std::size_t slot, int64_t activity) {
  const std::size_t at = position_[slot];
  const bool earlier = activity < heap_[at].activity;
  heap_[at].activity = activity;
  if (earlier) {
    SiftUp(at);
  } else {
    SiftDown(at);
  }
}

void CActivityHeap::PopMin() {
  const Entry last = heap_.back();
  heap_.pop_back();
  if (heap_.empty()) return;
  Place(0, last);
  SiftDown(0);
}

void CActivityHeap::Clear() { heap_.clear(); }

void CActivityHeap::Place(std::size_t at, const Entry& e) {
  heap_[at] = e;
  position_[e.slot] = at;
}

void CActivityHeap::SiftUp(std::size_t at) {
  const Entry moving = heap_[at];
  while (at > 0) {
    const std::size_t parent = (at - 1) / 2;
    if (heap_[parent].activity <= moving.activity) break;
    Place(at, heap_[parent]);
    at = parent;
  }
  Place(at, moving);
}

void CActivityHeap::SiftDown(std::size_t at) {
  const Entry moving = heap_[at];
  const std::size_t n = heap_.size();
  for (;;) {
    std::size_t child = 2 * at + 1;
    if (child >= n) break;
    if (child + 1 < n && heap_[child + 1].activity < heap_[child].activity) ++child;
    if (moving.activity <= heap_[child].activity) break;
    Place(at, heap_[child]);
    at = child;
  }
  Place(at, moving);
}
