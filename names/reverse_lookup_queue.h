#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "wire/ip_address.h"

// The bookkeeping of reverse lookups, without any I/O: which addresses wait
// to be asked, which are being asked, and which were asked lately without a
// name (the negative memory), so that a host without a PTR record is not
// asked again every time it shows up.
//
// An address is pending from Ask until Finish; asking it again meanwhile
// does nothing. At most `maxInFlight` addresses are handed out by Next at
// once. The queue holds at most `maxQueued` addresses; a new one pushes out
// the oldest waiting one, since the hosts seen last are the ones on screen.
//
// Thread-safe: Ask may be called from any thread (the capture thread with
// the traffic lock held included); it holds the queue's mutex for a few
// hash operations and never waits for anything else. Next, Finish and
// Reset belong to the lookup thread.
class CReverseLookupQueue {
 public:
  using Clock = std::chrono::steady_clock;

  struct COptions {
    std::size_t maxInFlight = 32;
    std::size_t maxQueued = 1024;
    std::size_t maxRemembered = 4096;            // addresses in the negative memory
    std::chrono::seconds rememberFailure{300};  // how long a failed address is not asked again
  };

  enum class EAsked : uint8_t {
    kQueuedFirst,     // queued into an empty queue: the lookup thread may be asleep
    kQueued,          // queued behind others
    kAlreadyPending,  // waiting or being asked already
    kRecentlyFailed,  // asked lately without a name
  };

  enum class EOutcome : uint8_t {
    kNamed,   // the name is in the cache
    kNoName,  // no PTR record, or none usable
    kFailed,  // time-out, refused, server failure
  };

  explicit CReverseLookupQueue(COptions options) : options_(options) {}

  EAsked Ask(const CIpAddr& address, Clock::time_point now);

  // The oldest waiting address, now in flight, or nothing when none waits or
  // `maxInFlight` are in flight.
  std::optional<CIpAddr> Next();

  // Ends the lookup of an address Next handed out. kNoName and kFailed are
  // remembered for `rememberFailure` from `now`.
  void Finish(const CIpAddr& address, EOutcome outcome, Clock::time_point now);

  // Forgets the waiting and in-flight addresses (the lookups were
  // abandoned); the negative memory stays.
  void Reset();

  std::size_t InFlight() const;
  std::size_t Queued() const;

 private:
  struct CHash {
    std::size_t operator()(const CIpAddr& a) const {
      return static_cast<std::size_t>((a.High() * 0x9E3779B97F4A7C15ull) ^ (a.Low() + a.Size()));
    }
  };
  // Drops remembered failures that expired at `now` or overflow the bound.
  void Forget(Clock::time_point now);

  const COptions options_;
  mutable std::mutex mutex_;
  std::deque<CIpAddr> waiting_;
  std::unordered_set<CIpAddr, CHash> pending_;  // waiting and in flight
  std::size_t inFlight_ = 0;
  // One duration for every failure, so that remembering order is expiry
  // order and the oldest is always at the front.
  std::deque<std::pair<Clock::time_point, CIpAddr>> failuresByExpiry_;
  std::unordered_map<CIpAddr, Clock::time_point, CHash> failures_;
};
