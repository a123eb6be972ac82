#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "processes/recent_socket_owners.h"

// The kernel tracer of short-lived programs: a small eBPF program on raw
// tracepoints (the exits of connect, sendto, sendmsg and sendmmsg, and a TCP
// socket entering SYN_SENT) that records, for each socket, the process that
// connected or sent on it, in a map that outlives the process. It sees only
// this network namespace's sockets through Find.
//
// Loading and attaching need CAP_BPF and CAP_PERFMON, raised from the
// permitted set on the calling thread for that time only; reading the map
// needs CAP_BPF on kernels that restrict bpf() to it, raised around each
// Find. Built only where the eBPF object could be compiled; elsewhere Start
// always says why not. One thread at a time (the cache's look-up thread).
class CSocketOwnerTrace : public CRecentSocketOwners {
 public:
  // The running tracer, or null with the reason in `whyNot` (built without
  // it, capabilities missing, kernel without BTF, verifier refusal...).
  static std::unique_ptr<CSocketOwnerTrace> Start(std::string& whyNot);
  // Detaches and unloads.
  ~CSocketOwnerTrace() override;

  void Find(std::span<const CSocketKey> keys,
            std::span<std::shared_ptr<const CProcessIdentity>> out) override;

 private:
  struct CLoaded;
  explicit CSocketOwnerTrace(std::unique_ptr<CLoaded> loaded, uint32_t netns);

  std::unique_ptr<CLoaded> loaded_;
  uint32_t netns_;  // inode of this namespace, as the tracer records it
};
