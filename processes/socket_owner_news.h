#pragma once
#include <cstdint>

#include "processes/process_owner.h"
#include "processes/socket_key.h"
#include "wire/time_stamp.h"

// What the look-up thread tells the asking thread about one key: a new
// answer, or only that the socket has closed since.
//
// An answer describes the socket that existed up to `closedAtMicros` (when
// `closed`): a conversation on the same key that began later belongs to a
// new socket and needs a new look-up. Times are microseconds since 1970,
// the capture's clock.
struct CSocketOwnerNews {
  CSocketKey key;
  bool hasAnswer = false;  // false: only `closed` news, the answer stands
  CProcessOwner owner;
  bool closed = false;
  int64_t closedAtMicros = 0;

  static int64_t Micros(CTimeStamp t) { return int64_t{t.sec} * 1'000'000 + t.usec; }

  // Whether the answer belongs to a conversation on `key` that began at
  // `firstSeen`.
  bool Covers(CTimeStamp firstSeen) const { return !closed || Micros(firstSeen) <= closedAtMicros; }
};
