// The flow exporter against a real collector (nfcapd, read back with
// nfdump) and against a plain UDP socket where the bytes themselves matter.
#include <arpa/inet.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "flows/flow_exporter.h"
#include "model/conversation_snapshot.h"
#include "output/value_format.h"
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

CConversationSnapshot Udp(uint16_t localPort) {
  return Snapshot(EHostRole::kClient, 17, CIpAddr(198, 51, 100, 1), CIpAddr(198, 51, 100, 2),
                  localPort, 53);
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
    b.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::recv(fd, b.data(), b.size(), 0))));
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
  for (std::size_t at = 16; at + 4 <= m.size() && r.U16(at + 2) >= 4; at += r.U16(at + 2))
    ids.push_back(r.U16(at));
  return ids;
}

TEST(FlowExporter, TemplatesComeFirstAndAgainAfterTheInterval) {
  CUdpSocket collector;
  auto now = std::make_shared<std::atomic<int64_t>>(0);
  CFlowExporter::Options o = To(collector.port);
  o.clock = [now] { return std::chrono::steady_clock::time_point(std::chrono::seconds(*now)); };
  CFlowExporter exporter(o);
  exporter.Start();
  // Set id 2 is a template set; libfixbuf sends templates in a message of
  // their own.
  const struct { int64_t at; bool templates; } steps[] = {
      {0, true}, {59, false}, {60, true}, {61, false}};
  for (const auto& step : steps) {
    *now = step.at;
    exporter.Add(Udp(1));
    ASSERT_TRUE(exporter.Flush(2s));
    if (step.templates) {
      EXPECT_EQ(SetIds(collector.Receive()), std::vector<uint16_t>{2}) << "at " << step.at;
    }
    EXPECT_EQ(SetIds(collector.Receive()), std::vector<uint16_t>{256}) << "at " << step.at;
  }
}

TEST(FlowExporter, FullQueueDropsTheOldest) {
  CUdpSocket collector;
  CFlowExporter::Options o = To(collector.port);
  o.queueLimit = 4;
  CFlowExporter exporter(o);
  // Queued before the sender starts, so the queue surely overflows.
  for (uint16_t port = 1; port <= 10; ++port) exporter.Add(Udp(port));
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
    const std::string command = "exec nfcapd -w " + dir + " -b 127.0.0.1 -p " +
                                std::to_string(port_) + " -t 3600 -C none >/dev/null 2>&1";
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      pid_ = -1;
    // Ready once it has opened its current file and its socket.
    for (int i = 0; i < 100 && pid_ > 0 && !Running(); ++i) std::this_thread::sleep_for(50ms);
  }
  ~CNfcapd() { Stop(); }
  uint16_t Port() const { return port_; }
  bool Running() const { return pid_ > 0 && !File("nfcapd.current.").empty() && Queue() >= 0; }

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

  // The lines nfdump prints for the closed file, sorted. %ts and %te print
  // the milliseconds nfcapd keeps (%tsr and %ter of nfdump 1.7.1 misprint
  // them).
  std::vector<std::string> Flows() const {
    std::vector<std::string> lines;
    const std::string cmd = "TZ=UTC nfdump -q -N -6 -r " + dir_ + "/" + File("nfcapd.2") +
                            " -o 'fmt:%ts,%te,%pr,%sa,%da,%sp,%dp,%ipkt,%ibyt,%opkt,%obyt'"
                            " | sed 's/ *, */,/g; s/^ *//; s/ *$//'";
    FILE* p = ::popen(cmd.c_str(), "r");
    char line[512];
    while (p != nullptr && std::fgets(line, sizeof line, p)) lines.emplace_back(line, std::strcspn(line, "\n"));
    if (p != nullptr) ::pclose(p);
    std::sort(lines.begin(), lines.end());
    return lines;
  }

 private:
  std::string File(std::string_view prefix) const {
    for (const std::string& name : TempDir::NamesIn(dir_))
      if (name.starts_with(prefix)) return name;
    return {};
  }
  // Bytes waiting in the collector's socket, or -1 when nothing is bound.
  int Queue() const {
    std::ifstream in("/proc/net/udp");
    char want[16];
    std::snprintf(want, sizeof want, "0100007F:%04X", port_);
    for (std::string slot, local, remote, state, queues; in >> slot >> local >> remote >> state >> queues;) {
      if (local == want) return static_cast<int>(std::stoul(queues.substr(9), nullptr, 16));
      in.ignore(1 << 10, '\n');
    }
    return -1;
  }
  std::string dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

bool HaveNfcapd() { return Shell("command -v nfcapd >/dev/null && command -v nfdump"); }

// The line nfdump prints for `r`, times to the millisecond it keeps.
std::string Expected(const CFlowRecord& r) {
  const auto at = [](uint64_t ms) {
    const CTimeStamp t{static_cast<int32_t>(ms / 1000), static_cast<int32_t>(ms % 1000 * 1000)};
    return FormatDate(t.sec) + " " + FormatClockTime(t).substr(0, 12);
  };
  std::ostringstream o;
  o << at(r.startMs) << ',' << at(r.endMs) << ',' << int{r.protocol} << ',' << r.source.ToText()
    << ',' << r.destination.ToText() << ',' << r.sourcePort << ',' << r.destinationPort << ','
    << r.packets << ',' << r.octets << ',' << r.reversePackets << ',' << r.reverseOctets;
  return o.str();
}

// Every flow reaches nfcapd whole; once it is gone, sending goes on, refused,
// without blocking.
TEST(FlowExporterNfcapd, CollectorStoresEveryFlowAsOneBiflowAndItsGoingBlocksNothing) {
  if (!HaveNfcapd()) GTEST_SKIP() << "nfcapd is not installed";
  ScopedTimeZone zone("UTC");
  TempDir dir;
  CNfcapd nfcapd(dir.Path());
  ASSERT_TRUE(nfcapd.Running());
  // Both families, both roles, both protocols, counters past 32 bits, a
  // one-packet exchange (all four times equal, no answer).
  const CIpAddr a4(198, 51, 100, 7), b4(198, 51, 100, 200);
  std::vector<CConversationSnapshot> conversations = {
      Snapshot(EHostRole::kClient, 6, a4, b4, 40001, 443),
      Snapshot(EHostRole::kServer, 17, a4, b4, 53, 40002),
      Snapshot(EHostRole::kClient, 17, TestV6(1), TestV6(2), 40003, 123),
      Snapshot(EHostRole::kServer, 6, TestV6(1), TestV6(0x99), 8080, 40004),
      Snapshot(EHostRole::kClient, 17, a4, b4, 40005, 514),
  };
  CFlowExporter exporter(To(nfcapd.Port()));
  exporter.Start();
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < conversations.size(); ++i) {
    auto& s = conversations[i];
    const int32_t t0 = 1700000000 + static_cast<int32_t>(i);
    s.bytesSent = 1000 + i;
    s.packetsSent = 3 + i;
    s.bytesReceived = i == 3 ? 5'000'000'000ull : i == 4 ? 0 : 20000 + i;
    s.packetsReceived = i == 4 ? 0 : 9 + i;
    s.times = {CTimeStamp{t0, 123999}, CTimeStamp{t0, 200000}, CTimeStamp{t0, 250000},
               CTimeStamp{t0 + 2, 999999}};
    if (i == 4) s.times.fill(CTimeStamp{t0, 500500});
    exporter.Add(s);
    expected.push_back(Expected(CFlowRecord::FromSnapshot(s)));
  }
  ASSERT_TRUE(exporter.Flush(2s));
  nfcapd.Stop();

  const auto start = std::chrono::steady_clock::now();
  for (uint16_t p = 2000; p < 2100; ++p) exporter.Add(Udp(p));
  EXPECT_TRUE(exporter.Flush(2s));
  exporter.Stop(2s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  const CFlowExportStats stats = exporter.Stats();
  EXPECT_EQ(stats.sent, 105u);  // a datagram to a closed port still left us
  EXPECT_GE(stats.refusals, 1u);
  EXPECT_EQ(stats.Lost(), 0u);

  std::sort(expected.begin(), expected.end());
  const std::vector<std::string> flows = nfcapd.Flows();
  EXPECT_EQ(flows, expected);
  // The orientation itself, once by hand: a Server-role exchange starts at
  // the remote side, with the received bytes as its forward direction.
  EXPECT_NE(std::find(flows.begin(), flows.end(),
                      "2023-11-14 22:13:21.123,2023-11-14 22:13:23.999,17,198.51.100.200,"
                      "198.51.100.7,40002,53,10,20001,4,1001"),
            flows.end());
}

}  // namespace
