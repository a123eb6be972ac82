#include "names/reverse_resolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "names/name_cache.h"
#include "names/reverse_name.h"
#include "tests/name_test_messages.h"

namespace {

using namespace std::chrono_literals;

// A DNS server on 127.0.0.1 that answers PTR questions from a table and
// every other question with NXDOMAIN, and counts the questions by name.
class CStubDnsServer {
 public:
  explicit CStubDnsServer(std::map<std::string, std::string> pointers)
      : pointers_(std::move(pointers)) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
      port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~CStubDnsServer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::string Servers() const { return "127.0.0.1:" + std::to_string(port_); }
  int Asked(const std::string& name) {
    std::lock_guard lock(mutex_);
    return asked_[name];
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      uint8_t query[512];
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      const ssize_t got = recvfrom(fd_, query, sizeof query, 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (got < 17) continue;
      std::string name;
      std::size_t at = 12;
      while (at < static_cast<std::size_t>(got) && query[at] != 0) {
        if (!name.empty()) name += '.';
        name.append(reinterpret_cast<const char*>(query + at + 1), query[at]);
        at += 1u + query[at];
      }
      const CBytes question(query + 12, query + at + 5);
      const auto pointer = pointers_.find(name);
      const bool named = pointer != pointers_.end();
      const CBytes reply = Cat({DnsHeader(named ? kDnsResponse : 0x8183, 1, named ? 1 : 0,
                                          static_cast<uint16_t>(query[0] << 8 | query[1])),
                                question,
                                named ? DnsRecord(DnsPointer(12), kDnsPtr, 3600,
                                                  DnsName(pointer->second))
                                      : CBytes{}});
      {
        std::lock_guard lock(mutex_);
        ++asked_[name];
      }
      sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
  }

  const std::map<std::string, std::string> pointers_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::string, int> asked_;
  std::thread thread_;
};

template <typename Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(10ms);
  return condition();
}

TEST(ReverseResolver, AsksEachAddressOnceThroughTheStubServer) {
  const CIpAddr named(198, 51, 100, 1), unnamed(198, 51, 100, 2), marker(198, 51, 100, 3);
  const CIpAddr v6 = CIpAddr::V6(std::array<uint8_t, 16>{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  const std::string namedQuery = CReverseName::ForAddress(named);
  CStubDnsServer server({{namedQuery, "host-one.example"},
                         {CReverseName::ForAddress(v6), "six.example"}});
  CNameCache cache;
  CReverseResolver resolver(cache, {.servers = server.Servers(), .timeoutMs = 500, .tries = 1, .queue = {}});

  resolver.Ask(named);  // off: nothing is asked
  std::string error;
  ASSERT_TRUE(resolver.Start(error)) << error;
  resolver.Ask(named);
  resolver.Ask(named);
  resolver.Ask(unnamed);
  resolver.Ask(v6);
  ASSERT_TRUE(WaitFor([&] {
    return cache.HasName(v6, CNameCache::Clock::now()) && resolver.InFlight() == 0;
  }));
  const auto name = cache.Lookup(named, CNameCache::Clock::now());
  ASSERT_TRUE(name);
  EXPECT_EQ(name->name, "host-one.example");
  EXPECT_EQ(name->source, ENameSource::kReverseLookup);
  EXPECT_EQ(cache.Lookup(v6, CNameCache::Clock::now())->name, "six.example");

  // Named and remembered-as-unnamed addresses are not asked again: the
  // queue is first in, first out, so once the marker's question arrives
  // any question for the others would have come before it.
  resolver.Ask(named);
  resolver.Ask(unnamed);
  resolver.Ask(marker);
  ASSERT_TRUE(WaitFor([&] { return server.Asked(CReverseName::ForAddress(marker)) == 1; }));
  resolver.Stop();
  EXPECT_EQ(server.Asked(namedQuery), 1);
  EXPECT_EQ(server.Asked(CReverseName::ForAddress(unnamed)), 1);
}

}  // namespace
