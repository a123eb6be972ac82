#pragma once
#include <cstddef>
#include <vector>

#include "model/host_record.h"

// Counters per remote host, always in ascending address order.
// Every operation requires the traffic lock.
class CHostTable {
 public:
  static constexpr std::size_t kMaxHosts = 1000;

  virtual ~CHostTable() = default;

  // Counts one packet; one of the byte counts is the packet's total length,
  // the other 0. A 1001st host is not recorded.
  void Update(uint64_t bytesSent, uint64_t bytesReceived, const CIpAddr& remote,
              uint16_t remotePort, CTimeStamp time);

  void Clear() {
    hosts_.clear();
    order_.clear();
  }

  const std::vector<CHostRecord>& Hosts() const { return hosts_; }
  std::size_t Size() const { return hosts_.size(); }

  // The host with this address, or null.
  const CHostRecord* Find(const CIpAddr& address) const;
  // Deletes the host with this address; false when there is none.
  bool Remove(const CIpAddr& address);

 private:
  // The index of the first host whose address is not below `address`.
  std::size_t LowerBound(const CIpAddr& address) const;

  std::vector<CHostRecord> hosts_;
  // Each host's address as a number (first byte highest), in the same order:
  // the binary search of every packet reads this 4 KB array instead of
  // touching a host record at each step. Every change of hosts_ changes it.
  std::vector<uint32_t> order_;
};
