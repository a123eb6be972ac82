#include "model/host_table.h"

#include <algorithm>

namespace {

// The address as a number, first byte highest: numeric order is the byte by
// byte order of the table, and integer comparisons replace memcmp calls.
uint32_t OrderOf4(const CIpAddr& a) {
  return static_cast<uint32_t>(a[0]) << 24 | static_cast<uint32_t>(a[1]) << 16 |
         static_cast<uint32_t>(a[2]) << 8 | a[3];
}

std::pair<uint64_t, uint64_t> OrderOf6(const CIpAddr& a) {
  uint64_t high = 0;
  uint64_t low = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    high = high << 8 | a[i];
    low = low << 8 | a[i + 8];
  }
  return {high, low};
}

void CountPort(CHostRecord& host, uint64_t sent, uint64_t received, uint16_t port,
               CTimeStamp time) {
  // A host with 100 ports tracks no new port and updates no known one.
  if (host.ports.size() >= CHostRecord::kMaxPorts) return;
  auto it = std::lower_bound(host.ports.begin(), host.ports.end(), port,
                             [](const CPortRecord& p, uint16_t v) { return p.port < v; });
  if (it != host.ports.end() && it->port == port) {
    it->bytesSent += sent;
    it->bytesReceived += received;
    it->packets += 1;
    it->lastTime = time;
    return;
  }
  host.ports.insert(it, CPortRecord{sent, received, 1, port, time});
}

void CountRecent(CHostRecord& h, uint64_t bytesSent, uint64_t bytesReceived, CTimeStamp time) {
  CHostBucket* b = h.recent->Cell(TimeBucket(time.sec));
  if (b == nullptr) return;  // older than the graph
  b->bytesSent += bytesSent;
  b->bytesReceived += bytesReceived;
  (bytesSent > 0 ? b->packetsSent : b->packetsReceived) += 1;
}

}  // namespace

std::size_t CHostTable::LowerBound(const CIpAddr& address, bool& found) const {
  if (address.IsV4()) {
    const uint32_t key = OrderOf4(address);
    const auto it = std::lower_bound(order4_.begin(), order4_.end(), key);
    found = it != order4_.end() && *it == key;
    return static_cast<std::size_t>(it - order4_.begin());
  }
  const auto key = OrderOf6(address);
  const auto it = std::lower_bound(order6_.begin(), order6_.end(), key);
  found = it != order6_.end() && *it == key;
  return order4_.size() + static_cast<std::size_t>(it - order6_.begin());
}

void CHostTable::InsertOrder(std::size_t at, const CIpAddr& address) {
  if (address.IsV4()) {
    order4_.insert(order4_.begin() + static_cast<std::ptrdiff_t>(at), OrderOf4(address));
  } else {
    order6_.insert(order6_.begin() + static_cast<std::ptrdiff_t>(at - order4_.size()),
                   OrderOf6(address));
  }
}

void CHostTable::EraseOrder(std::size_t at) {
  if (at < order4_.size()) {
    order4_.erase(order4_.begin() + static_cast<std::ptrdiff_t>(at));
  } else {
    order6_.erase(order6_.begin() + static_cast<std::ptrdiff_t>(at - order4_.size()));
  }
}

void CHostTable::Update(uint64_t bytesSent, uint64_t bytesReceived, const CIpAddr& remote,
                        uint16_t remotePort, CTimeStamp time) {
  bool found = false;
  const std::size_t at = LowerBound(remote, found);
  if (found) {
    CHostRecord& h = hosts_[at];
    h.bytesSent += bytesSent;
    h.bytesReceived += bytesReceived;
    if (bytesSent > 0) {
      h.packetsSent += 1;
    } else {
      h.packetsReceived += 1;
    }
    CountPort(h, bytesSent, bytesReceived, remotePort, time);
    CountRecent(h, bytesSent, bytesReceived, time);
    h.lastTime = time;
    return;
  }
  if (hosts_.size() >= kMaxHosts) return;
  CHostRecord h;
  h.address = remote;
  h.bytesSent = bytesSent;
  h.bytesReceived = bytesReceived;
  if (bytesSent > 0) {
    h.packetsSent = 1;
  } else {
    h.packetsReceived = 1;
  }
  h.ports.push_back(CPortRecord{bytesSent, bytesReceived, 1, remotePort, time});
  CountRecent(h, bytesSent, bytesReceived, time);
  h.lastTime = time;
  hosts_.insert(hosts_.begin() + static_cast<std::ptrdiff_t>(at), std::move(h));
  try {
    InsertOrder(at, remote);
  } catch (...) {
    hosts_.erase(hosts_.begin() + static_cast<std::ptrdiff_t>(at));
    throw;
  }
}

const CHostRecord* CHostTable::Find(const CIpAddr& address) const {
  bool found = false;
  const std::size_t at = LowerBound(address, found);
  return found ? &hosts_[at] : nullptr;
}

bool CHostTable::Remove(const CIpAddr& address) {
  bool found = false;
  const std::size_t at = LowerBound(address, found);
  if (!found) return false;
  EraseOrder(at);
  hosts_.erase(hosts_.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

int CHostTable::AgeLimit(std::size_t hosts) {
  if (hosts > 60) return 120;
  if (hosts > 30) return 180;
  return 300;
}

std::size_t CHostTable::AgeOut(int64_t now) {
  if (hosts_.size() <= 10) return 0;
  const int64_t limit = AgeLimit(hosts_.size());
  std::vector<CIpAddr> aged;
  for (const CHostRecord& h : hosts_) {
    if (now - h.lastTime.sec > limit) aged.push_back(h.address);
  }
  for (const CIpAddr& a : aged) Remove(a);
  return aged.size();
}
