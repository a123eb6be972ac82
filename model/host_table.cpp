#include "model/host_table.h"

#include <algorithm>

namespace {

// The address as a number, first byte highest: numeric order is the byte by
// byte order of the table, and one integer comparison replaces a memcmp call.
uint32_t OrderOf(const CIpAddr& a) {
  return static_cast<uint32_t>(a[0]) << 24 | static_cast<uint32_t>(a[1]) << 16 |
         static_cast<uint32_t>(a[2]) << 8 | a[3];
}

auto LowerBound(std::vector<CHostRecord>& hosts, const CIpAddr& address) {
  const uint32_t key = OrderOf(address);
  return std::lower_bound(hosts.begin(), hosts.end(), key, [](const CHostRecord& h, uint32_t k) {
    return OrderOf(h.address) < k;
  });
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

void CHostTable::Update(uint64_t bytesSent, uint64_t bytesReceived, const CIpAddr& remote,
                        uint16_t remotePort, CTimeStamp time) {
  auto it = LowerBound(hosts_, remote);
  if (it != hosts_.end() && it->address == remote) {
    CHostRecord& h = *it;
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
  hosts_.insert(it, std::move(h));
}

const CHostRecord* CHostTable::Find(const CIpAddr& address) const {
  auto& hosts = const_cast<std::vector<CHostRecord>&>(hosts_);
  auto it = LowerBound(hosts, address);
  if (it == hosts.end() || it->address != address) return nullptr;
  return &*it;
}

bool CHostTable::Remove(const CIpAddr& address) {
  auto it = LowerBound(hosts_, address);
  if (it == hosts_.end() || it->address != address) return false;
  hosts_.erase(it);
  return true;
}
