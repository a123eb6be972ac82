#pragma once
#include <span>
#include <vector>

#include "processes/socket_table_reader.h"

struct inet_diag_req_v2;

// The sockets of the calling thread's network namespace, through netlink
// socket diagnostics (NETLINK_SOCK_DIAG, inet_diag). Needs no privilege.
//
// TCP sockets are looked up one by one, the way the kernel matches an
// arriving segment (the connection, else the listener): a dump of the TCP
// table walks every bucket of the kernel's connection hash, which costs
// milliseconds even when it holds a handful of sockets (a lookup: a few
// microseconds). Past
// kMaxTcpLookups keys, or for UDP, whose table is small, the table is
// dumped instead (without TIME_WAIT and half-open sockets: no process holds
// them).
//
// Opens its netlink socket anew for each Read, so it always reads the
// namespace the reading thread is in. One thread at a time.
class CNetlinkSocketTable : public CSocketTableReader {
 public:
  static constexpr std::size_t kMaxTcpLookups = 1024;

  bool Read(std::span<const CSocketKey> interest, std::vector<CSocketRecord>& out) override;

 private:
  // Sends one request and appends the sockets of its answer; false on any
  // failure. A lookup that finds nothing succeeds with nothing appended.
  bool Ask(int fd, const inet_diag_req_v2& request, bool dump, std::vector<CSocketRecord>& out);

  std::vector<char> buffer_;
};
