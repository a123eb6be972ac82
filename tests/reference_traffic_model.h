#pragma once
// A deliberately plain implementation of the traffic model's filing rules,
// kept beside the tests as the yardstick for the fast one: conversations
// searched linearly from the newest with the match rules, the host table
// walked from its start, ports walked the same way, the sampler's buckets
// counted out one by one. Nothing here is indexed or clever, so that a
// difference from CTrafficModel points at the fast code.
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "model/packet_record.h"

struct RefRecord {
  CPacketFields f;
  int convId = 0;
  bool headerOnly = false;
  std::vector<uint8_t> payload;
};
using RefRecordRef = std::shared_ptr<RefRecord>;

struct RefConversation {
  int convId = 0;
  bool closed = false;
  EHostRole hostRole = EHostRole::kClient;
  std::vector<RefRecordRef> received, sent;
  uint16_t protocol = 0;
  CIpAddr remote{}, local{};
  uint16_t remotePort = 0, localPort = 0;
  uint64_t bytesSent = 0, bytesReceived = 0, packetsSent = 0, packetsReceived = 0;
  std::array<CTimeStamp, 4> times{};

  int Match(const RefRecord& r) {
    if (r.f.protocol != protocol || r.f.remote != remote || r.f.local != local) return -1;
    if (r.f.fragment) {
      for (std::size_t i = received.size(); i-- > 0;) {
        if (received[i]->f.identification == r.f.identification) return 0;
      }
    }
    if (r.f.remotePort != remotePort || r.f.localPort != localPort) return -1;
    if (closed) return 1;
    if (hostRole == EHostRole::kClient && r.f.direction == EDirection::kSent && !received.empty()) {
      closed = true;
      return 2;  // closed now
    }
    if (hostRole == EHostRole::kServer && r.f.direction == EDirection::kReceived && !sent.empty()) {
      closed = true;
      return 2;
    }
    return 0;
  }

  void Add(const RefRecordRef& r, EHostRole role) {
    remote = r->f.remote;
    local = r->f.local;
    const bool isSent = r->f.direction == EDirection::kSent;
    if (isSent) {
      bytesSent += static_cast<uint32_t>(r->f.totalLength);
      packetsSent += 1;
    } else {
      bytesReceived += static_cast<uint32_t>(r->f.totalLength);
      packetsReceived += 1;
    }
    r->convId = convId;
    localPort = r->f.localPort;
    remotePort = r->f.remotePort;
    protocol = r->f.protocol;
    hostRole = role;
    const CTimeStamp t = r->f.time;
    const std::size_t nSent = sent.size(), nReceived = received.size();
    if (nSent == 0 && nReceived == 0) {
      times = {t, t, t, t};
    } else if (nSent > 0 && nReceived == 0) {
      if (isSent) times[1] = t;
      times[2] = t;
      times[3] = t;
    } else if (nSent == 0 && nReceived > 0) {
      if (!isSent) times[1] = t;
      times[2] = t;
      times[3] = t;
    } else {
      times[3] = t;
    }
    std::vector<RefRecordRef>& list = isSent ? sent : received;
    if (list.size() >= 300) return;
    std::size_t pos = 0;
    for (std::size_t i = list.size(); i-- > 0;) {
      if (static_cast<int32_t>(list[i]->f.seq) < static_cast<int32_t>(r->f.seq)) {
        pos = i + 1;
        break;
      }
    }
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(pos), r);
  }
};

struct RefPort {
  uint64_t bytesSent = 0, bytesReceived = 0, packets = 0;
  uint16_t port = 0;
  CTimeStamp lastTime;
};

struct RefHost {
  CIpAddr address{};
  uint64_t bytesSent = 0, bytesReceived = 0, packetsSent = 0, packetsReceived = 0;
  std::vector<RefPort> ports;
  CTimeStamp lastTime;
};

// What a consumer of finished conversations saw of one.
struct RefFinal {
  int convId;
  uint64_t packetsSent, packetsReceived;
  friend bool operator==(const RefFinal&, const RefFinal&) = default;
};

class RefModel {
 public:
  int convIdCounter = 0;
  std::vector<RefFinal> finals;  // in the order they became final
  std::vector<RefConversation> conversations;  // oldest first
  std::vector<RefRecordRef> pending;
  std::vector<RefHost> hosts;
  std::vector<uint64_t> sampleSent, sampleReceived;
  int lastBucket = 0;
  std::deque<RefRecordRef> recent;

  // One recorded packet, then the recent-list trim, as the decoder does it.
  void Record(const CPacketFields& f, std::span<const uint8_t> available, EHostRole role,
              bool headerOnly) {
    const uint64_t length = static_cast<uint32_t>(f.totalLength);
    const uint64_t s = f.direction == EDirection::kSent ? length : 0;
    const uint64_t r = f.direction == EDirection::kSent ? 0 : length;
    UpdateHosts(s, r, f.remote, f.remotePort, f.time);
    UpdateSampler(s, r, f.time);
    auto rec = std::make_shared<RefRecord>();
    rec->f = f;
    rec->headerOnly = headerOnly;
    if (!headerOnly && f.totalLength > f.headerLength) {
      const std::size_t want = static_cast<std::size_t>(f.totalLength - f.headerLength);
      for (std::size_t i = 0; i < want && i < available.size(); ++i) {
        rec->payload.push_back(available[i]);
      }
    }
    File(rec, role);
    recent.push_back(rec);
    if (recent.size() > 100) {
      while (recent.size() > 90) recent.pop_front();
    }
  }

  void ClearConversations() {
    for (const RefConversation& c : conversations) {
      if (!c.closed) Announce(c);
    }
    conversations.clear();
  }
  void FinishAll() {
    for (RefConversation& c : conversations) {
      if (!c.closed) Announce(c);
      c.closed = true;
    }
  }
  void ClearHosts() { hosts.clear(); }
  void ClearRecent() { recent.clear(); }

 private:
  void Announce(const RefConversation& c) {
    finals.push_back({c.convId, c.packetsSent, c.packetsReceived});
  }

  void File(const RefRecordRef& r, EHostRole role) {
    for (std::size_t i = conversations.size(); i-- > 0;) {
      const int m = conversations[i].Match(*r);
      if (m == 2) Announce(conversations[i]);
      if (m == 0) {
        RefConversation& c = conversations[i];
        if (r->f.fragment) {
          r->f.localPort = c.localPort;
          r->f.remotePort = c.remotePort;
        }
        c.Add(r, role);
        Attach(*r, c, role);
        return;
      }
      if (m >= 1) break;
    }
    if (r->f.fragment) {
      pending.push_back(r);
      if (pending.size() > 12) {
        while (pending.size() > 10) pending.erase(pending.begin());
      }
      return;
    }
    RefConversation c;
    c.convId = ++convIdCounter;
    c.hostRole = role;
    c.Add(r, role);
    conversations.push_back(std::move(c));
    if (conversations.size() > 2000) {
      while (conversations.size() > 1600) {
        if (!conversations.front().closed) Announce(conversations.front());
        conversations.erase(conversations.begin());
      }
    }
    Attach(*r, conversations.back(), role);
  }

  void Attach(const RefRecord& r, RefConversation& c, EHostRole role) {
    for (std::size_t i = 0; i < pending.size();) {
      RefRecordRef p = pending[i];
      if (p->f.identification == r.f.identification && p->f.protocol == r.f.protocol &&
          p->f.remote == r.f.remote && p->f.local == r.f.local) {
        p->f.localPort = c.localPort;
        p->f.remotePort = c.remotePort;
        c.Add(p, role);
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }

  // IPv4 before IPv6, then byte by byte.
  static int CompareAddr(const CIpAddr& a, const CIpAddr& b) {
    if (a.IsV4() != b.IsV4()) return a.IsV4() ? -1 : 1;
    for (std::size_t i = 0; i < a.Size(); ++i) {
      if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
  }

  static RefHost NewHost(uint64_t s, uint64_t r, const CIpAddr& a, uint16_t port, CTimeStamp t) {
    RefHost h;
    h.address = a;
    h.bytesSent = s;
    h.bytesReceived = r;
    if (s > 0) {
      h.packetsSent = 1;
    } else {
      h.packetsReceived = 1;
    }
    h.ports.push_back(RefPort{s, r, 1, port, t});
    h.lastTime = t;
    return h;
  }

  void UpdateHosts(uint64_t s, uint64_t r, const CIpAddr& a, uint16_t port, CTimeStamp t) {
    for (std::size_t i = 0; i < hosts.size(); ++i) {
      const int cmp = CompareAddr(a, hosts[i].address);
      if (cmp == 0) {
        RefHost& h = hosts[i];
        h.bytesSent += s;
        h.bytesReceived += r;
        if (s > 0) {
          h.packetsSent += 1;
        } else {
          h.packetsReceived += 1;
        }
        if (h.ports.size() < 100) {
          std::size_t k = 0;
          for (; k < h.ports.size(); ++k) {
            if (h.ports[k].port == port) {
              h.ports[k].bytesSent += s;
              h.ports[k].bytesReceived += r;
              h.ports[k].packets += 1;
              h.ports[k].lastTime = t;
              break;
            }
            if (h.ports[k].port > port) {
              h.ports.insert(h.ports.begin() + static_cast<std::ptrdiff_t>(k),
                             RefPort{s, r, 1, port, t});
              break;
            }
          }
          if (k == h.ports.size()) h.ports.push_back(RefPort{s, r, 1, port, t});
        }
        h.lastTime = t;
        return;
      }
      if (cmp < 0) {
        if (hosts.size() >= 1000) return;
        hosts.insert(hosts.begin() + static_cast<std::ptrdiff_t>(i), NewHost(s, r, a, port, t));
        return;
      }
    }
    if (hosts.size() >= 1000) return;
    hosts.push_back(NewHost(s, r, a, port, t));
  }

  void UpdateSampler(uint64_t s, uint64_t r, CTimeStamp t) {
    const int b = t.sec / 5;
    if (lastBucket == 0) {
      sampleSent.push_back(s);
      sampleReceived.push_back(r);
      lastBucket = b;
      return;
    }
    const long long d = static_cast<long long>(b) - lastBucket;
    if (d == 0) {
      sampleSent.back() += s;
      sampleReceived.back() += r;
    } else if (d > 0) {
      if (d > 30) {
        sampleSent.clear();
        sampleReceived.clear();
      }
      if (!sampleSent.empty()) {
        for (long long i = 0; i < d - 1; ++i) {
          sampleSent.push_back(0);
          sampleReceived.push_back(0);
        }
      }
      sampleSent.push_back(s);
      sampleReceived.push_back(r);
      lastBucket = b;
      while (sampleSent.size() > 40) {
        sampleSent.erase(sampleSent.begin());
        sampleReceived.erase(sampleReceived.begin());
      }
    } else {
      // A late packet counts in its own bucket while that bucket is kept.
      const long long length = static_cast<long long>(sampleSent.size());
      if (-d <= 30 && -d < length) {
        sampleSent[static_cast<std::size_t>(length - 1 + d)] += s;
        sampleReceived[static_cast<std::size_t>(length - 1 + d)] += r;
      }
    }
  }
};
