#include "names/reverse_lookup_queue.h"

#include <algorithm>

CReverseLookupQueue::EAsked CReverseLookupQueue::Ask(const CIpAddr& address,
                                                     Clock::time_point now) {
  std::lock_guard lock(mutex_);
  Forget(now);
  if (pending_.contains(address)) return EAsked::kAlreadyPending;
  if (failures_.contains(address)) return EAsked::kRecentlyFailed;
  const bool first = waiting_.empty();
  if (waiting_.size() >= std::max<std::size_t>(options_.maxQueued, 1)) {
    pending_.erase(waiting_.front());
    waiting_.pop_front();
  }
  waiting_.push_back(address);
  pending_.insert(address);
  return first ? EAsked::kQueuedFirst : EAsked::kQueued;
}

std::optional<CIpAddr> CReverseLookupQueue::Next() {
  std::lock_guard lock(mutex_);
  if (waiting_.empty() || inFlight_ >= options_.maxInFlight) return std::nullopt;
  const CIpAddr address = waiting_.front();
  waiting_.pop_front();
  ++inFlight_;
  return address;
}

void CReverseLookupQueue::Finish(const CIpAddr& address, EOutcome outcome,
                                 Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (pending_.erase(address) == 0) return;  // abandoned by Reset meanwhile
  if (inFlight_ > 0) --inFlight_;
  if (outcome == EOutcome::kNamed) return;
  const Clock::time_point expiry = now + options_.rememberFailure;
  failures_[address] = expiry;
  failuresByExpiry_.emplace_back(expiry, address);
  Forget(now);
}

void CReverseLookupQueue::Reset() {
  std::lock_guard lock(mutex_);
  waiting_.clear();
  pending_.clear();
  inFlight_ = 0;
}

std::size_t CReverseLookupQueue::InFlight() const {
  std::lock_guard lock(mutex_);
  return inFlight_;
}

std::size_t CReverseLookupQueue::Queued() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

void CReverseLookupQueue::Forget(Clock::time_point now) {
  while (!failuresByExpiry_.empty() &&
         (failuresByExpiry_.front().first <= now || failures_.size() > options_.maxRemembered)) {
    const auto& [expiry, address] = failuresByExpiry_.front();
    // A later failure of the same address has its own, later entry.
    const auto found = failures_.find(address);
    if (found != failures_.end() && found->second == expiry) failures_.erase(found);
    failuresByExpiry_.pop_front();
  }
}
