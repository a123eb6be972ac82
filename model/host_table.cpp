#include "model/host_table.h"

#include <algorithm>

namespace {

// The address as a number, first byte highest: numeric order is the byte by
// byte order of the table, and one integer comparison replaces a memcmp call.
uint32_t OrderOf(const CIpAddr& a) {
  return static_cast<uint32_t>(a[0]) << 24 | static_cast<uint32_t>(a[1]) << 16 |
         static_cast<uint32_t>(a[2]) << 8 | a[3];
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

}  // namespace

std::size_t CHostTable::LowerBound(const CIpAddr& address) const {
  return static_cast<std::size_t>(std::lower_bound(order_.begin(), order_.end(), OrderOf(address)) -
                                  order_.begin());
}

void CHostTable::Update(uint64_t bytesSent, uint64_t bytesReceived, const CIpAddr& remote,
                        uint16_t remotePort, CTimeStamp time) {
  const std::size_t at = LowerBound(remote);
  const uint32_t order = OrderOf(remote);
  if (at < order_.size() && order_[at] == order) {
    CHostRecord& h = hosts_[at];
    h.bytesSent += bytesSent;
    h.bytesReceived += bytesReceived;
    if (bytesSent > 0) {
      h.packetsSent += 1;
    } else {
      h.packetsReceived += 1;
    }
    CountPort(h, bytesSent, bytesReceived, remotePort, time);
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
  h.lastTime = time;
  hosts_.insert(hosts_.begin() + static_cast<std::ptrdiff_t>(at), std::move(h));
  try {
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(at), order);
  } catch (...) {
    hosts_.erase(hosts_.begin() + static_cast<std::ptrdiff_t>(at));
    throw;
  }
}

const CHostRecord* CHostTable::Find(const CIpAddr& address) const {
  const std::size_t at = LowerBound(address);
  if (at == order_.size() || order_[at] != OrderOf(address)) return nullptr;
  return &hosts_[at];
}

bool CHostTable::Remove(const CIpAddr& address) {
  const std::size_t at = LowerBound(address);
  if (at == order_.size() || order_[at] != OrderOf(address)) return false;
  hosts_.erase(hosts_.begin() + static_cast<std::ptrdiff_t>(at));
  order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}
