#pragma once
// Shared pieces of the tests that trace a real device (a veth pair in a
// network namespace of the test's own): shell commands and one frame sent
// out of a device. Qt-free, so both the core and the desktop tests use it.
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

// Runs `command` with its output discarded; true when it exits with 0.
inline bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// One broadcast Ethernet frame out of `device`, from the calling thread's
// namespace. Failures are ignored: callers wait for the frame to be seen.
inline void SendFrame(const char* device) {
  const int fd = socket(AF_PACKET, SOCK_RAW, 0);
  if (fd < 0) return;
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = static_cast<int>(if_nametoindex(device));
  to.sll_halen = 6;
  std::memset(to.sll_addr, 0xff, 6);
  unsigned char frame[60] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 2, 0, 0, 0, 0, 1, 0x08, 0x00};
  (void)sendto(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(fd);
}
