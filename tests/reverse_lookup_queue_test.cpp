#include "names/reverse_lookup_queue.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using EAsked = CReverseLookupQueue::EAsked;
using EOutcome = CReverseLookupQueue::EOutcome;
const CReverseLookupQueue::Clock::time_point kT0{1000h};

CIpAddr Host(int i) { return CIpAddr(198, 51, 100, static_cast<uint8_t>(i)); }

TEST(ReverseLookupQueue, BoundsInFlightAndRemembersFailures) {
  CReverseLookupQueue queue({.maxInFlight = 2, .maxQueued = 3, .rememberFailure = 300s});
  EXPECT_EQ(queue.Ask(Host(1), kT0), EAsked::kQueuedFirst);
  EXPECT_EQ(queue.Ask(Host(2), kT0), EAsked::kQueued);
  EXPECT_EQ(queue.Ask(Host(1), kT0), EAsked::kAlreadyPending);
  EXPECT_EQ(queue.Next(), Host(1));
  EXPECT_EQ(queue.Next(), Host(2));
  EXPECT_EQ(queue.Ask(Host(2), kT0), EAsked::kAlreadyPending);  // in flight

  // Two in flight: the queue waits, and past three waiting the oldest goes.
  for (int i = 3; i <= 6; ++i) queue.Ask(Host(i), kT0);
  EXPECT_EQ(queue.Next(), std::nullopt);
  EXPECT_EQ(queue.Queued(), 3u);

  queue.Finish(Host(1), EOutcome::kNamed, kT0);
  queue.Finish(Host(2), EOutcome::kFailed, kT0);
  EXPECT_EQ(queue.Next(), Host(4));
  EXPECT_EQ(queue.Next(), Host(5));
  EXPECT_EQ(queue.Next(), std::nullopt);
  EXPECT_EQ(queue.Ask(Host(3), kT0), EAsked::kQueued);  // was pushed out, may come back

  EXPECT_EQ(queue.Ask(Host(1), kT0), EAsked::kQueued);
  EXPECT_EQ(queue.Ask(Host(2), kT0 + 299s), EAsked::kRecentlyFailed);
  EXPECT_EQ(queue.Ask(Host(2), kT0 + 300s), EAsked::kQueued);
}

}  // namespace
