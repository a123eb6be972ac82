#include "processes/netlink_socket_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

// A descriptor closed at the end of the scope.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

uint16_t PortOf(int fd) {
  sockaddr_storage a{};
  socklen_t len = sizeof(a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(a).sin_port
                                      : reinterpret_cast<sockaddr_in6&>(a).sin6_port);
}

uint64_t InodeOf(int fd) {
  struct stat st {};
  fstat(fd, &st);
  return st.st_ino;
}

// The real kernel table holds the sockets this test opens on 127.0.0.1,
// with their inodes and our UID; an IPv6 socket talking IPv4 reads as IPv4.
TEST(NetlinkSocketTable, ListsOwnLoopbackSockets) {
  const CIpAddr loopback(127, 0, 0, 1);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const Fd listener{socket(AF_INET, SOCK_STREAM, 0)};
  ASSERT_EQ(bind(listener.fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(listen(listener.fd, 4), 0);
  addr.sin_port = htons(PortOf(listener.fd));

  const Fd client{socket(AF_INET6, SOCK_STREAM, 0)};
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  mapped.sin6_port = addr.sin_port;
  inet_pton(AF_INET6, "::ffff:127.0.0.1", &mapped.sin6_addr);
  ASSERT_EQ(connect(client.fd, reinterpret_cast<sockaddr*>(&mapped), sizeof(mapped)), 0);

  const Fd udp{socket(AF_INET, SOCK_DGRAM, 0)};
  addr.sin_port = 0;
  ASSERT_EQ(bind(udp.fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);

  const CIpAddr peer(127, 0, 0, 2);
  const uint16_t server = PortOf(listener.fd);
  const std::vector<CSocketKey> interest = {
      {6, loopback, server, peer, 50000},  // reaches the listener
      {6, loopback, PortOf(client.fd), loopback, server},
      {17, loopback, PortOf(udp.fd), peer, 53},
  };
  // Few TCP keys are looked up one by one; many make it dump the table.
  for (const std::size_t filler : {std::size_t{0}, CNetlinkSocketTable::kMaxTcpLookups}) {
    SCOPED_TRACE(filler);
    std::vector<CSocketKey> keys = interest;
    for (std::size_t i = 0; i < filler; ++i)
      keys.push_back({6, peer, static_cast<uint16_t>(1000 + i), peer, 1});
    CNetlinkSocketTable table;
    std::vector<CSocketRecord> records;
    ASSERT_TRUE(table.Read(keys, records));
    const auto find = [&](uint8_t protocol, uint16_t port, bool connected) -> const CSocketRecord* {
      const auto it = std::find_if(records.begin(), records.end(), [&](const CSocketRecord& r) {
        return r.protocol == protocol && r.localPort == port && (r.remotePort != 0) == connected;
      });
      return it == records.end() ? nullptr : &*it;
    };

    const CSocketRecord* l = find(6, server, false);
    ASSERT_NE(l, nullptr);
    EXPECT_TRUE(l->listening);
    EXPECT_EQ(l->local, loopback);
    EXPECT_EQ(l->inode, InodeOf(listener.fd));
    EXPECT_EQ(l->uid, geteuid());

    const CSocketRecord* c = find(6, PortOf(client.fd), true);
    ASSERT_NE(c, nullptr);
    EXPECT_FALSE(c->listening);
    EXPECT_EQ(c->local, loopback);
    EXPECT_EQ(c->remote, loopback);
    EXPECT_EQ(c->remotePort, server);
    EXPECT_EQ(c->inode, InodeOf(client.fd));

    const CSocketRecord* u = find(17, PortOf(udp.fd), false);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->inode, InodeOf(udp.fd));
  }
}

}  // namespace
