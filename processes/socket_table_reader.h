#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "processes/socket_key.h"
#include "wire/ip_address.h"

// One socket of the kernel's table. An IPv6 socket that talks IPv4 (its
// addresses are ::ffff:a.b.c.d or ::) is given with IPv4 addresses, so that
// it matches what the capture sees. An unconnected socket has a zero remote
// address and port; a socket bound to every address has a zero local one.
struct CSocketRecord {
  uint8_t protocol = 0;  // 6 TCP, 17 UDP
  CIpAddr local;
  uint16_t localPort = 0;
  CIpAddr remote;
  uint16_t remotePort = 0;
  bool listening = false;
  uint32_t uid = 0;    // the user that created the socket
  uint64_t inode = 0;  // 0: no process holds it any more (closed, kernel-only)
};

// Reads the kernel's TCP and UDP sockets. Implemented over netlink socket
// diagnostics; tests give a table of their own. Called on one thread at a
// time (the cache's look-up thread).
class CSocketTableReader {
 public:
  virtual ~CSocketTableReader() = default;

  // Replaces `out` with at least every socket a conversation on one of
  // `interest` can belong to: its own connected socket, or the listening
  // (TCP) or unconnected (UDP) socket bound to its local address or to all
  // addresses. It may hold other sockets too. False when the table could not
  // be read; `out` is then empty.
  virtual bool Read(std::span<const CSocketKey> interest, std::vector<CSocketRecord>& out) = 0;
};
