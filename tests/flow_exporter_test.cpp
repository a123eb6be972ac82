// The flow exporter against a real collector (nfcapd, read back with
// nfdump) and against a plain UDP socket where the bytes themselves matter.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "flows/flow_exporter.h"
#include "model/conversation_snapshot.h"
#include "test_support.h"
#include "wire/byte_reader.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

CConversationSnapshot Snapshot(EHostRole role, uint8_t protocol, CIpAddr local, CIpAddr remote,
                               uint16_t localPort, uint16_t remotePort) {
  CConversationSnapshot s;
  s.role = role;
  s.protocol = protocol;
  s.local = local;
  s.remote = remote;
  s.localPort = localPort;
  s.remotePort = remotePort;
  return s;
}

CIpAddr V6(uint8_t last) {
  std::array<uint8_t, 16> b{0x20, 0x01, 0x0d, 0xb8};
  b[15] = last;
  return CIpAddr::V6(b);
}

// A loopback UDP socket on a port the system picked.
struct CUdpSocket {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  uint16_t port = 0;
  CUdpSocket() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    timeval t{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  }
  ~CUdpSocket() { ::close(fd); }
  std::vector<uint8_t> Receive() const {
    std::vector<uint8_t> b(65536);
    const ssize_t n = ::recv(fd, b.data(), b.size(), 0);
    b.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return b;
  }
};

CFlowExporter::Options To(uint16_t port) {
  CFlowExporter::Options o;
  o.collector = {"127.0.0.1", port};
  return o;
}

// The set ids of one IPFIX message, in order; empty when it is not one.
std::vector<uint16_t> SetIds(const std::vector<uint8_t>& m) {
  CByteReader r(m);
  std::vector<uint16_t> ids;
  if (r.U16(0) != 10 || r.U16(2) != m.size()) return ids;
  for (std::size_t at = 16; at + 4 <= m.size();) {
    const uint16_t len = r.U16(at + 2);
    if (len < 4) break;
    ids.push_back(r.U16(at));
    at += len;
  }
  return ids;
}

TEST(FlowExporter, TemplatesComeFirstAndAgainAfterTheInterval) {
  CUdpSocket collector;
  auto now = std::make_shared<std::atomic<int64_t>>(0);
  CFlowExporter::Options o = To(collector.port);
  o.clock = [now] { return std::chrono::steady_clock::time_point(std::chrono::seconds(*now)); };
  CFlowExporter exporter(o);
  exporter.Start();
  const auto s = Snapshot(EHostRole::kClient, 6, CIpAddr(198, 51, 100, 1),
                          CIpAddr(198, 51, 100, 2), 40000, 80);
  // Set id 2 is a template set; libfixbuf sends templates in a message of
  // their own.
  const struct { int64_t at; bool templates; } steps[] = {
      {0, true}, {59, false}, {60, true}, {61, false}};
  for (const auto& step : steps) {
    *now = step.at;
    exporter.Add(s);
    ASSERT_TRUE(exporter.Flush(2s));
    if (step.templates)
      EXPECT_EQ(SetIds(collector.Receive()), std::vector<uint16_t>{2}) << "at " << step.at;
    EXPECT_EQ(SetIds(collector.Receive()), std::vector<uint16_t>{256}) << "at " << step.at;
  }
}

TEST(FlowExporter, FullQueueDropsTheOldest) {
  CUdpSocket collector;
  CFlowExporter::Options o = To(collector.port);
  o.queueLimit = 4;
  CFlowExporter exporter(o);
  // Queued before the sender starts, so the queue surely overflows.
  for (uint16_t port = 1; port <= 10; ++port)
    exporter.Add(Snapshot(EHostRole::kClient, 17, CIpAddr(198, 51, 100, 1),
                          CIpAddr(198, 51, 100, 2), port, 53));
  exporter.Start();
  ASSERT_TRUE(exporter.Flush(2s));
  const CFlowExportStats stats = exporter.Stats();
  EXPECT_EQ(stats.dropped, 6u);
  EXPECT_EQ(stats.sent, 4u);
  EXPECT_EQ(stats.Lost(), 6u);
  // The survivors are the newest: their source ports, big-endian, follow
  // the port 53 in each record; look for 7..10 and not 6.
  collector.Receive();  // the templates
  const std::vector<uint8_t> m = collector.Receive();
  const auto has = [&](uint16_t p) {
    const uint8_t pat[] = {0, static_cast<uint8_t>(p), 0, 53};
    return std::search(m.begin(), m.end(), std::begin(pat), std::end(pat)) != m.end();
  };
  EXPECT_FALSE(has(6));
  for (uint16_t p = 7; p <= 10; ++p) EXPECT_TRUE(has(p)) << p;
}

// nfcapd on 127.0.0.1, writing into its own folder, stopped by the test.
class CNfcapd {
 public:
  explicit CNfcapd(const std::string& dir) : dir_(dir) {
    { CUdpSocket probe; port_ = probe.port; }  // a port free a moment ago
    const std::string port = std::to_string(port_);
    const char* argv[] = {"nfcapd", "-w", dir.c_str(), "-b", "127.0.0.1", "-p", port.c_str(),
                          "-t", "3600", "-C", "none", nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "nfcapd", &fa, nullptr, const_cast<char**>(argv), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    // Ready once it has opened its current file and its socket.
    for (int i = 0; i < 100 && pid_ > 0 && !(File("nfcapd.current.") && Queue() >= 0); ++i)
      std::this_thread::sleep_for(50ms);
  }
  ~CNfcapd() { Stop(); }
  uint16_t Port() const { return port_; }
  bool Running() const { return pid_ > 0 && Queue() >= 0; }

  // Waits until it has read every datagram, then stops it; on SIGTERM it
  // closes its file under the name of its time slot.
  void Stop() {
    if (pid_ <= 0) return;
    for (int i = 0; i < 100 && Queue() > 0; ++i) std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(100ms);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // The lines nfdump prints for the closed file, keyed by source port.
  std::map<int, std::string> Flows() const {
    std::map<int, std::string> flows;
    const auto name = File("nfcapd.2");
    if (!name) return flows;
    // %ts and %te print the milliseconds nfcapd keeps (%tsr and %ter of
    // nfdump 1.7.1 misprint them).
    const std::string cmd = "TZ=UTC nfdump -q -N -6 -r " + dir_ + "/" + *name +
                            " -o 'fmt:%ts,%te,%pr,%sa,%da,%sp,%dp,%ipkt,%ibyt,%opkt,%obyt'";
    FILE* p = ::popen(cmd.c_str(), "r");
    char line[512];
    while (p && std::fgets(line, sizeof line, p)) {
      std::istringstream fields(line);
      std::string field, joined, port;
      for (int i = 0; std::getline(fields, field, ','); ++i) {
        const auto b = field.find_first_not_of(" \n"), e = field.find_last_not_of(" \n");
        field = b == std::string::npos ? "" : field.substr(b, e - b + 1);
        joined += (i ? "," : "") + field;
        if (i == 5) port = field;
      }
      flows[std::atoi(port.c_str())] = joined;
    }
    if (p) ::pclose(p);
    return flows;
  }

 private:
  std::optional<std::string> File(const std::string& prefix) const {
    std::optional<std::string> found;
    if (DIR* d = ::opendir(dir_.c_str())) {
      while (dirent* e = ::readdir(d))
        if (std::string(e->d_name).rfind(prefix, 0) == 0) found = e->d_name;
      ::closedir(d);
    }
    return found;
  }
  // Bytes waiting in the collector's socket, or -1 when nothing is bound.
  int Queue() const {
    std::ifstream in("/proc/net/udp");
    char want[16];
    std::snprintf(want, sizeof want, "0100007F:%04X", port_);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream f(line);
      std::string slot, local, remote, state, queues;
      f >> slot >> local >> remote >> state >> queues;
      if (local == want) return static_cast<int>(std::stoul(queues.substr(9), nullptr, 16));
    }
    return -1;
  }
  std::string dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

bool HaveNfcapd() { return std::system("command -v nfcapd >/dev/null && command -v nfdump >/dev/null") == 0; }

std::string UtcMillis(uint64_t ms) {
  const time_t sec = static_cast<time_t>(ms / 1000);
  tm t{};
  ::gmtime_r(&sec, &t);
  char buf[64];
  const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &t);
  std::snprintf(buf + n, sizeof buf - n, ".%03u", static_cast<unsigned>(ms % 1000));
  return buf;
}

// The line nfdump prints for `r`, times to the millisecond it keeps.
std::string Expected(const CFlowRecord& r) {
  char src[INET6_ADDRSTRLEN], dst[INET6_ADDRSTRLEN];
  const int af = r.source.IsV4() ? AF_INET : AF_INET6;
  ::inet_ntop(af, r.source.Data(), src, sizeof src);
  ::inet_ntop(af, r.destination.Data(), dst, sizeof dst);
  std::ostringstream o;
  o << UtcMillis(r.startMs) << ',' << UtcMillis(r.endMs) << ',' << int{r.protocol} << ','
    << src << ',' << dst << ',' << r.sourcePort << ',' << r.destinationPort << ','
    << r.packets << ',' << r.octets << ',' << r.reversePackets << ',' << r.reverseOctets;
  return o.str();
}

// Both families, both roles, both protocols, counters past 32 bits, a
// one-packet exchange (all four times equal, no answer).
std::vector<CConversationSnapshot> Conversations() {
  const CIpAddr a4(198, 51, 100, 7), b4(198, 51, 100, 200);
  std::vector<CConversationSnapshot> v = {
      Snapshot(EHostRole::kClient, 6, a4, b4, 40001, 443),
      Snapshot(EHostRole::kServer, 17, a4, b4, 53, 40002),
      Snapshot(EHostRole::kClient, 17, V6(1), V6(2), 40003, 123),
      Snapshot(EHostRole::kServer, 6, V6(1), V6(0x99), 8080, 40004),
      Snapshot(EHostRole::kClient, 17, a4, b4, 40005, 514),
  };
  for (std::size_t i = 0; i < v.size(); ++i) {
    auto& s = v[i];
    const int32_t t0 = 1700000000 + static_cast<int32_t>(i);
    s.bytesSent = 1000 + i;
    s.packetsSent = 3 + i;
    s.bytesReceived = i == 3 ? 5'000'000'000ull : i == 4 ? 0 : 20000 + i;
    s.packetsReceived = i == 4 ? 0 : 9 + i;
    s.times = {CTimeStamp{t0, 123999}, CTimeStamp{t0, 200000}, CTimeStamp{t0, 250000},
               CTimeStamp{t0 + 2, 999999}};
    if (i == 4) s.times.fill(CTimeStamp{t0, 500500});
  }
  return v;
}

TEST(FlowExporterNfcapd, CollectorStoresEveryFlowAsOneBiflow) {
  if (!HaveNfcapd()) GTEST_SKIP() << "nfcapd is not installed";
  TempDir dir;
  CNfcapd nfcapd(dir.Path());
  ASSERT_TRUE(nfcapd.Running());
  CFlowExporter exporter(To(nfcapd.Port()));
  exporter.Start();
  const auto conversations = Conversations();
  for (const auto& s : conversations) exporter.Add(s);
  ASSERT_TRUE(exporter.Flush(2s));
  nfcapd.Stop();

  const std::map<int, std::string> flows = nfcapd.Flows();
  ASSERT_EQ(flows.size(), conversations.size());
  for (const auto& s : conversations) {
    const CFlowRecord r = CFlowRecord::FromSnapshot(s);
    const auto it = flows.find(r.sourcePort);
    ASSERT_NE(it, flows.end()) << r.sourcePort;
    EXPECT_EQ(it->second, Expected(r));
  }
  // The orientation itself, once by hand: a Server-role exchange starts at
  // the remote side, with the received bytes as its forward direction.
  EXPECT_EQ(flows.at(40002),
            "2023-11-14 22:13:21.123,2023-11-14 22:13:23.999,17,198.51.100.200,198.51.100.7,40002,53,"
            "10,20001,4,1001");
}

TEST(FlowExporterNfcapd, CollectorGoneMidwayBlocksNothing) {
  if (!HaveNfcapd()) GTEST_SKIP() << "nfcapd is not installed";
  TempDir dir;
  CNfcapd nfcapd(dir.Path());
  ASSERT_TRUE(nfcapd.Running());
  CFlowExporter exporter(To(nfcapd.Port()));
  exporter.Start();
  const auto add = [&](uint16_t first, uint16_t count) {
    for (uint16_t p = first; p < first + count; ++p)
      exporter.Add(Snapshot(EHostRole::kClient, 17, CIpAddr(198, 51, 100, 1),
                            CIpAddr(198, 51, 100, 2), p, 53));
  };
  add(1000, 100);
  ASSERT_TRUE(exporter.Flush(2s));
  nfcapd.Stop();

  const auto start = std::chrono::steady_clock::now();
  add(2000, 100);
  EXPECT_TRUE(exporter.Flush(2s));
  exporter.Stop(2s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  const CFlowExportStats stats = exporter.Stats();
  EXPECT_EQ(stats.sent, 200u);  // a datagram to a closed port still left us
  EXPECT_GE(stats.refusals, 1u);
  EXPECT_EQ(stats.Lost(), 0u);
  EXPECT_EQ(nfcapd.Flows().size(), 100u);
}

}  // namespace
