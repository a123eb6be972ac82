// How many short-lived clients get their program's name: runs N `curl`s one
// after another against a local HTTP server, and asks CSocketOwnerCache
// about each one's socket the moment its request packet is captured, as the
// capture thread would. Prints how many answers name curl, how many say
// "(gone)", and how many say anything else.
//
// Each curl gets its own local port (--local-port), so the key is known
// without reading the packet: the capture filter alone picks the client's
// request packets (TCP to the server port with payload).
//
// Usage: process_naming_measure INTERFACE SERVER_ADDR SERVER_PORT CLIENTS FIRST_LOCAL_PORT
//                               [--no-tracer] [--buffered]
// --buffered captures as a live trace does (packets delivered in blocks,
// up to a second late) instead of in immediate mode.
// Run where the server and the interface are (e.g. ip netns exec ...).

#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "processes/socket_owner_cache.h"

extern char** environ;

namespace {

struct COptions {
  std::string interface;
  std::string server;
  uint16_t serverPort = 0;
  int clients = 0;
  uint16_t firstLocalPort = 0;
  bool tracer = true;
  bool buffered = false;  // the trace's capture settings: 1 s buffer time-out
};

bool Parse(int argc, char** argv, COptions& o) {
  if (argc < 6) return false;
  o.interface = argv[1];
  o.server = argv[2];
  o.serverPort = static_cast<uint16_t>(std::atoi(argv[3]));
  o.clients = std::atoi(argv[4]);
  o.firstLocalPort = static_cast<uint16_t>(std::atoi(argv[5]));
  for (int i = 6; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-tracer") == 0) o.tracer = false;
    else if (std::strcmp(argv[i], "--buffered") == 0) o.buffered = true;
    else return false;
  }
  return o.clients > 0 && o.serverPort != 0 && o.firstLocalPort != 0;
}

void RunCurl(const COptions& o, int i) {
  const std::string port = std::to_string(o.firstLocalPort + i);
  const std::string url = "http://" + o.server + ":" + std::to_string(o.serverPort) + "/";
  std::vector<std::string> args = {"curl", "-s", "-o", "/dev/null", "--local-port", port, url};
  std::vector<char*> argvCurl;
  for (std::string& a : args) argvCurl.push_back(a.data());
  argvCurl.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, argvCurl.data(), environ) != 0) return;
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  COptions o;
  if (!Parse(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: %s INTERFACE SERVER_ADDR SERVER_PORT CLIENTS FIRST_LOCAL_PORT [--no-tracer] [--buffered]\n",
                 argv[0]);
    return 2;
  }
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* pcap = pcap_create(o.interface.c_str(), error);
  if (pcap == nullptr || pcap_set_immediate_mode(pcap, o.buffered ? 0 : 1) != 0 ||
      pcap_set_timeout(pcap, o.buffered ? 1000 : 20) != 0 ||
      pcap_set_snaplen(pcap, 128) != 0 || pcap_activate(pcap) < 0) {
    std::fprintf(stderr, "capture: %s\n", pcap ? pcap_geterr(pcap) : error);
    return 1;
  }
  // Client packets to the server that carry payload: the request.
  const std::string filter = "tcp and dst host " + o.server + " and dst port " +
                             std::to_string(o.serverPort) +
                             " and (ip[2:2] - ((ip[0]&0xf)<<2) - ((tcp[12]&0xf0)>>2)) != 0";
  bpf_program program{};
  if (pcap_compile(pcap, &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0 ||
      pcap_setfilter(pcap, &program) != 0) {
    std::fprintf(stderr, "filter: %s\n", pcap_geterr(pcap));
    return 1;
  }
  pcap_freecode(&program);

  std::unique_ptr<CSocketOwnerCache> cache = CSocketOwnerCache::ForThisHost(o.tracer, {});
  const CSocketOwnerCache::CStatus status = cache->Status();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("tracer: %s\n", status.shortLivedNamed ? "running" : status.text.c_str());

  in_addr server{};
  inet_pton(AF_INET, o.server.c_str(), &server);
  const auto* b = reinterpret_cast<const uint8_t*>(&server.s_addr);
  const CIpAddr serverAddr(b[0], b[1], b[2], b[3]);

  // The spawner moves to the next client only after the capture side has
  // asked about this one (or a second has passed), so that every request
  // packet is matched to the client that sent it.
  std::atomic<int> current{-1};
  std::atomic<int> asked{-1};
  std::atomic<bool> done{false};
  std::thread spawner([&] {
    for (int i = 0; i < o.clients; ++i) {
      current.store(i);
      RunCurl(o, i);
      for (int w = 0; w < 100 && asked.load() < i; ++w)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    done.store(true);
  });

  std::vector<CSocketOwnerNews> landed;
  std::vector<CProcessOwner> answers(static_cast<std::size_t>(o.clients));
  const auto keyOf = [&](int i) {
    return CSocketKey{6, serverAddr, static_cast<uint16_t>(o.firstLocalPort + i), serverAddr,
                      o.serverPort};
  };
  // In immediate mode the capture library ignores its read time-out, so the
  // loop waits on the descriptor itself.
  pcap_setnonblock(pcap, 1, error);
  pollfd wait{pcap_get_selectable_fd(pcap), POLLIN, 0};
  while (!done.load()) {
    poll(&wait, 1, 20);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(pcap, &header, &data) == 1) {
      const int i = current.load();
      if (i >= 0 && asked.load() < i) {
        const CTimeStamp t{static_cast<int32_t>(header->ts.tv_sec),
                           static_cast<int32_t>(header->ts.tv_usec)};
        answers[static_cast<std::size_t>(i)] = cache->Peek(keyOf(i), t);
        asked.store(i);
      }
    }
    cache->Collect(landed);
  }
  spawner.join();
  // The last answers land within a look-up or two.
  for (int w = 0; w < 100; ++w) {
    cache->Collect(landed);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (const CSocketOwnerNews& n : landed) {
    const int i = n.key.localPort - o.firstLocalPort;
    if (i >= 0 && i < o.clients && answers[static_cast<std::size_t>(i)].state == EOwnerState::kPending)
      answers[static_cast<std::size_t>(i)] = n.owner;
  }
  int named = 0, gone = 0, missed = 0, other = 0;
  for (const CProcessOwner& a : answers) {
    if (a.state == EOwnerState::kKnown && a.Text() == "curl") {
      ++named;
    } else if (a.state == EOwnerState::kGone) {
      ++gone;
    } else if (a.state == EOwnerState::kPending) {
      ++missed;  // no request packet was captured for it
    } else {
      ++other;
      std::printf("other: %s\n", a.Text().c_str());
    }
  }
  std::printf("clients %d named %d gone %d other %d not-captured %d\n", o.clients, named, gone, other,
              missed);
  pcap_close(pcap);
  return 0;
}
