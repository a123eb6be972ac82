#include "processes/netlink_socket_table.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kBufferBytes = 64 * 1024;

// TCP state numbers as the kernel counts them.
constexpr uint32_t kStateSynRecv = 3;
constexpr uint32_t kStateTimeWait = 6;
constexpr uint32_t kStateListen = 10;
constexpr uint32_t kStateNewSynRecv = 12;
constexpr uint32_t kAllStates = 0xFFFu;

bool IsMappedOrZero(const uint8_t* b) {
  static constexpr uint8_t kZero[10] = {};
  if (std::memcmp(b, kZero, 10) != 0) return false;
  return (b[10] == 0xFF && b[11] == 0xFF) ||
         (b[10] == 0 && b[11] == 0 && b[12] == 0 && b[13] == 0 && b[14] == 0 && b[15] == 0);
}

// The diagnostics give addresses in four 32-bit words, network order.
std::array<uint8_t, 16> Bytes16(const __be32 words[4]) {
  std::array<uint8_t, 16> b;
  std::memcpy(b.data(), words, 16);
  return b;
}

CIpAddr V4Of(const std::array<uint8_t, 16>& b, std::size_t at) {
  return CIpAddr(b[at], b[at + 1], b[at + 2], b[at + 3]);
}

// An IPv6 socket that talks IPv4 carries mapped (or zero) addresses on both
// ends; the capture sees those conversations as IPv4.
void SetAddresses(uint8_t family, const inet_diag_sockid& id, CSocketRecord& r) {
  const std::array<uint8_t, 16> src = Bytes16(id.idiag_src);
  const std::array<uint8_t, 16> dst = Bytes16(id.idiag_dst);
  if (family == AF_INET) {
    r.local = V4Of(src, 0);
    r.remote = V4Of(dst, 0);
  } else if (IsMappedOrZero(src.data()) && IsMappedOrZero(dst.data()) &&
             (src[10] == 0xFF || dst[10] == 0xFF)) {
    r.local = V4Of(src, 12);
    r.remote = V4Of(dst, 12);
  } else {
    r.local = CIpAddr::V6(src);
    r.remote = CIpAddr::V6(dst);
  }
}

inet_diag_req_v2 DumpRequest(uint8_t family, uint8_t protocol) {
  inet_diag_req_v2 r{};
  r.sdiag_family = family;
  r.sdiag_protocol = protocol;
  r.idiag_states = kAllStates & ~(1u << kStateTimeWait | 1u << kStateSynRecv | 1u << kStateNewSynRecv);
  return r;
}

// The TCP socket a segment from the key's remote end to its local end would
// reach. The lookup takes the socket's view: source is the local end.
inet_diag_req_v2 LookupRequest(const CSocketKey& k) {
  inet_diag_req_v2 r{};
  r.sdiag_family = k.local.IsV4() ? AF_INET : AF_INET6;
  r.sdiag_protocol = IPPROTO_TCP;
  r.idiag_states = kAllStates;
  r.id.idiag_sport = htons(k.localPort);
  r.id.idiag_dport = htons(k.remotePort);
  std::memcpy(r.id.idiag_src, k.local.Data(), k.local.Size());
  std::memcpy(r.id.idiag_dst, k.remote.Data(), k.remote.Size());
  r.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  r.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  return r;
}

}  // namespace

bool CNetlinkSocketTable::Read(std::span<const CSocketKey> interest, std::vector<CSocketRecord>& out) {
  out.clear();
  std::size_t tcp = 0;
  bool udp = false;
  for (const CSocketKey& k : interest) {
    if (k.protocol == IPPROTO_TCP) ++tcp;
    if (k.protocol == IPPROTO_UDP) udp = true;
  }
  const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) return false;
  if (buffer_.size() != kBufferBytes) buffer_.resize(kBufferBytes);
  bool ok = true;
  if (tcp > kMaxTcpLookups) {
    for (uint8_t family : {uint8_t{AF_INET}, uint8_t{AF_INET6}})
      ok = ok && Ask(fd, DumpRequest(family, IPPROTO_TCP), true, out);
  } else if (tcp > 0) {
    for (const CSocketKey& k : interest)
      if (k.protocol == IPPROTO_TCP) ok = ok && Ask(fd, LookupRequest(k), false, out);
  }
  if (udp) {
    for (uint8_t family : {uint8_t{AF_INET}, uint8_t{AF_INET6}})
      ok = ok && Ask(fd, DumpRequest(family, IPPROTO_UDP), true, out);
  }
  close(fd);
  if (!ok) out.clear();
  return ok;
}

bool CNetlinkSocketTable::Ask(int fd, const inet_diag_req_v2& body, bool dump,
                              std::vector<CSocketRecord>& out) {
  struct {
    nlmsghdr header;
    inet_diag_req_v2 body;
  } request{};
  request.header.nlmsg_len = sizeof(request);
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = static_cast<uint16_t>(NLM_F_REQUEST | (dump ? NLM_F_DUMP : 0));
  request.header.nlmsg_seq = 1;
  request.body = body;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(fd, &request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof(kernel)) != static_cast<ssize_t>(sizeof(request))) {
    return false;
  }

  for (;;) {
    const ssize_t got = recv(fd, buffer_.data(), buffer_.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    int left = static_cast<int>(got);
    for (auto* h = reinterpret_cast<nlmsghdr*>(buffer_.data()); NLMSG_OK(h, left);
         h = NLMSG_NEXT(h, left)) {
      if (h->nlmsg_type == NLMSG_DONE) return true;
      if (h->nlmsg_type == NLMSG_ERROR) {
        // No such socket, or (dump) no such table in this kernel: nothing
        // to list, not a failure.
        if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return false;
        const auto* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
        return e->error == -ENOENT;
      }
      if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY || h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
        continue;
      const auto* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
      CSocketRecord r;
      r.protocol = body.sdiag_protocol;
      SetAddresses(m->idiag_family, m->id, r);
      r.localPort = ntohs(m->id.idiag_sport);
      r.remotePort = ntohs(m->id.idiag_dport);
      r.listening = r.protocol == IPPROTO_TCP && m->idiag_state == kStateListen;
      r.uid = m->idiag_uid;
      r.inode = m->idiag_inode;
      out.push_back(r);
      // A lookup answers with one message and no end marker.
      if (!dump) return true;
    }
  }
}
