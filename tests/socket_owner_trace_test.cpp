#include "processes/socket_owner_trace.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof(a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

std::string OwnComm() {
  std::string comm;
  std::getline(std::ifstream("/proc/self/comm"), comm);
  return comm;
}

// Where the kernel tracer can run (root or cap_bpf,cap_perfmon, a kernel
// with BTF), it records this process as the one that connected and sent.
TEST(SocketOwnerTrace, RecordsConnectAndUnconnectedSend) {
  std::string whyNot;
  const std::unique_ptr<CSocketOwnerTrace> trace = CSocketOwnerTrace::Start(whyNot);
  if (!trace) GTEST_SKIP() << "kernel tracer unavailable: " << whyNot;

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  addr.sin_port = htons(PortOf(listener));
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  const int udp = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(sendto(udp, "x", 1, 0, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 1);

  const CIpAddr loopback(127, 0, 0, 1);
  const uint16_t server = PortOf(listener);
  const std::vector<CSocketKey> keys = {
      {6, loopback, PortOf(client), loopback, server},
      {17, loopback, PortOf(udp), loopback, server},  // captured with the address it left from
      {6, loopback, PortOf(client), loopback, static_cast<uint16_t>(server + 1)},
  };
  std::vector<std::shared_ptr<const CProcessIdentity>> found(keys.size());
  trace->Find(keys, found);
  close(udp);
  close(client);
  close(listener);
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    ASSERT_NE(found[i], nullptr);
    EXPECT_EQ(found[i]->pid, getpid());
    EXPECT_EQ(found[i]->name, OwnComm());
  }
  EXPECT_EQ(found[2], nullptr);
}

}  // namespace
