#pragma once
#include <cstddef>
#include <utility>
#include <vector>

#include "model/host_record.h"

// Counters per remote host, always in ascending address order.
// Every operation requires the traffic lock.
class CHostTable {
 public:
  static constexpr std::size_t kMaxHosts = 1000;

  // Counts one packet; one of the byte counts is the packet's total length,
  // the other 0. A 1001st host is not recorded.
  void Update(uint64_t bytesSent, uint64_t bytesReceived, const CIpAddr& remote,
              uint16_t remotePort, CTimeStamp time);

  void Clear() {
    hosts_.clear();
    order4_.clear();
    order6_.clear();
  }

  const std::vector<CHostRecord>& Hosts() const { return hosts_; }
  std::size_t Size() const { return hosts_.size(); }

  // The host with this address, or null.
  const CHostRecord* Find(const CIpAddr& address) const;
  // Deletes the host with this address; false when there is none.
  bool Remove(const CIpAddr& address);

  // Seconds a host may stay silent before ageing drops it, for a table of
  // `hosts` hosts: 300, 180 above 30 hosts, 120 above 60.
  static int AgeLimit(std::size_t hosts);
  // With more than 10 hosts, drops every host silent for longer than the
  // age limit at `now` (seconds by the session's clock). Returns how many
  // went.
  std::size_t AgeOut(int64_t now);

 private:
  // The index of the first host whose address is not below `address`, and
  // whether that host has this address.
  std::size_t LowerBound(const CIpAddr& address, bool& found) const;
  void InsertOrder(std::size_t at, const CIpAddr& address);
  void EraseOrder(std::size_t at);

  std::vector<CHostRecord> hosts_;
  // Each host's address as a number (first byte highest), in the same order:
  // the binary search of every packet reads these compact arrays instead of
  // touching a host record at each step. IPv4 hosts come first in hosts_,
  // as order4_; the IPv6 hosts follow, as order6_. Every change of hosts_
  // changes one of them.
  std::vector<uint32_t> order4_;
  std::vector<std::pair<uint64_t, uint64_t>> order6_;
};
