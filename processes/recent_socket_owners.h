#pragma once
#include <memory>
#include <span>

#include "processes/process_owner.h"
#include "processes/socket_key.h"

// A record of which process recently connected or sent on a socket, kept by
// the kernel as it happens, so that it survives the process. Implemented by
// the eBPF tracer. One thread at a time (the cache's look-up thread).
class CRecentSocketOwners {
 public:
  virtual ~CRecentSocketOwners() = default;

  // For each key, sets the element of `out` at the same index to the
  // process recorded for it; leaves the others as they are.
  virtual void Find(std::span<const CSocketKey> keys,
                    std::span<std::shared_ptr<const CProcessIdentity>> out) = 0;
};
