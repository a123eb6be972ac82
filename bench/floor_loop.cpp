// The floor that the headless replay is measured against: the least work any
// recorder of this traffic must do per frame. It reads a capture file with
// libpcap, parses Ethernet, IPv4 and TCP/UDP within the captured length,
// copies each payload into a fresh heap buffer, and looks up a conversation
// and a host in std::unordered_map. No ordering, no bounds, no roles.
//
// Usage: floor_loop FILE [LOCAL_ADDRESS]   (default 192.0.2.10)
// Prints one line: frames, recorded packets, seconds, frames per second.

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>

namespace {

struct ConvEntry {
  uint64_t bytes = 0;
  uint64_t packets = 0;
  std::unique_ptr<uint8_t[]> lastPayload;  // the copy replaces the previous one
};

struct HostEntry {
  uint64_t bytes = 0;
  uint64_t packets = 0;
};

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

uint64_t ConvKey(uint8_t proto, uint32_t remote, uint16_t lport, uint16_t rport) {
  // The local address is one and the same for this loop.
  return (static_cast<uint64_t>(remote) << 32) ^ (static_cast<uint64_t>(rport) << 16) ^ lport ^
         (static_cast<uint64_t>(proto) << 60);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: floor_loop FILE [LOCAL_ADDRESS]\n");
    return 2;
  }
  uint32_t local = 0;
  if (inet_pton(AF_INET, argc > 2 ? argv[2] : "192.0.2.10", &local) != 1) {
    std::fprintf(stderr, "floor_loop: bad address\n");
    return 2;
  }
  char err[PCAP_ERRBUF_SIZE];
  const auto start = std::chrono::steady_clock::now();
  pcap_t* p = pcap_open_offline(argv[1], err);
  if (!p) {
    std::fprintf(stderr, "floor_loop: %s\n", err);
    return 1;
  }
  std::unordered_map<uint64_t, ConvEntry> convs;
  std::unordered_map<uint32_t, HostEntry> hosts;
  uint64_t frames = 0, recorded = 0;
  pcap_pkthdr* h;
  const u_char* d;
  int rc;
  while ((rc = pcap_next_ex(p, &h, &d)) == 1) {
    ++frames;
    const uint32_t cap = h->caplen;
    if (cap < 14 + 20 || Get16(d + 12) != 0x0800) continue;
    const uint8_t* ip = d + 14;
    const uint32_t ipCap = cap - 14;
    const uint32_t ihl = (ip[0] & 0x0F) * 4u;
    const uint32_t total = Get16(ip + 2);
    const uint8_t proto = ip[9];
    uint32_t hdr;
    if (proto == 6) {
      if (ihl < 20 || ipCap < ihl + 20) continue;
      hdr = ihl + (ip[ihl + 12] >> 4) * 4u;
    } else if (proto == 17) {
      if (ipCap < ihl + 8) continue;
      hdr = ihl + 8;
    } else {
      continue;
    }
    if (total <= hdr || ipCap < hdr) continue;
    uint32_t src, dst;
    std::memcpy(&src, ip + 12, 4);
    std::memcpy(&dst, ip + 16, 4);
    const bool sent = src == local;
    if (!sent && dst != local) continue;
    const uint16_t sport = Get16(ip + ihl), dport = Get16(ip + ihl + 2);
    const uint32_t remote = sent ? dst : src;
    const uint16_t lport = sent ? sport : dport, rport = sent ? dport : sport;
    const uint32_t keep = (total < ipCap ? total : ipCap) - hdr;
    auto buf = std::make_unique<uint8_t[]>(keep);
    std::memcpy(buf.get(), ip + hdr, keep);
    ConvEntry& c = convs[ConvKey(proto, remote, lport, rport)];
    c.bytes += total;
    c.packets += 1;
    c.lastPayload = std::move(buf);
    HostEntry& host = hosts[remote];
    host.bytes += total;
    host.packets += 1;
    ++recorded;
  }
  pcap_close(p);
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (rc == PCAP_ERROR) {
    std::fprintf(stderr, "floor_loop: read error\n");
    return 1;
  }
  std::printf("frames %llu recorded %llu conversations %zu hosts %zu seconds %.3f fps %.0f\n",
              static_cast<unsigned long long>(frames), static_cast<unsigned long long>(recorded),
              convs.size(), hosts.size(), secs, secs > 0 ? frames / secs : 0.0);
  return 0;
}
