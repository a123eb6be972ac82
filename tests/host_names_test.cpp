// Names in a replay, end to end through the engine: a DNS answer (through a
// CNAME) names its address for the session, a connection's HTTP Host or TLS
// server name names its conversation and, below a DNS answer, its host; a
// hello the local host received names nothing; no lookup runs for a replay,
// and the next replay starts without the names of this one.
#include "engine/traffic_engine.h"

#include <gtest/gtest.h>

#include <map>

#include "output/value_format.h"
#include "tests/name_test_messages.h"
#include "tests/test_support.h"

namespace {

const CIpAddr kLocal(10, 0, 0, 1), kDns(198, 51, 100, 53), kNtp(198, 51, 100, 7),
    kTls(198, 51, 100, 8), kPeer(198, 51, 100, 9);

CFrame Frame(uint8_t protocol, CIpAddr from, uint16_t fromPort, CIpAddr to, uint16_t toPort,
             const CBytes& payload) {
  CTestPacket p;
  p.protocol = protocol;
  p.source = from;
  p.sourcePort = fromPort;
  p.destination = to;
  p.destinationPort = toPort;
  p.payload = static_cast<int>(payload.size());
  std::vector<uint8_t> ip = Ipv4Packet(p);
  std::copy(payload.begin(), payload.end(), ip.end() - static_cast<std::ptrdiff_t>(payload.size()));
  return {1700000000, EthernetFrame(ip)};
}

TEST(HostNames, ReplayNamesHostsAndConversationsByTrust) {
  TempDir dir;
  const CBytes answer = Cat({DnsHeader(kDnsResponse, 1, 2), DnsQuestion(DnsName("ntp.example.org"), kDnsA),
                             DnsRecord(DnsPointer(12), kDnsCname, 5, DnsName("pool.example.net")),
                             DnsRecord(DnsName("pool.example.net"), kDnsA, 5, {198, 51, 100, 7})});
  const CFrame ntp = Frame(17, kLocal, 40000, kNtp, 123, Text("time?"));
  ASSERT_TRUE(WritePcap(dir.File("names.pcap"), DLT_EN10MB,
                        {Frame(17, kDns, 53, kLocal, 5353, answer), ntp,
                         Frame(6, kLocal, 40001, kNtp, 80, Text("GET / HTTP/1.1\r\nHost: www.example.org\r\n\r\n")),
                         Frame(6, kLocal, 40002, kTls, 443, ClientHello({ServerName("tls.example.com")})),
                         Frame(6, kPeer, 40003, kLocal, 443, ClientHello({ServerName("me.example.com")}))}));
  ASSERT_TRUE(WritePcap(dir.File("again.pcap"), DLT_EN10MB, {ntp}));
  CTrafficEngine engine;
  engine.Names().SetReverseLookups(true);  // never for a replay

  ASSERT_TRUE(engine.Replay(dir.File("names.pcap"), {kLocal}, nullptr).Ok());
  EXPECT_FALSE(engine.Names().Resolving());
  std::map<std::string, std::string> hosts, conversations;
  for (const CHostSummary& h : engine.Session()->Hosts(false).hosts) hosts[FormatAddress(h.address)] = h.name;
  for (const CConversationRowData& d : engine.Session()->ConversationRows()) {
    conversations[FormatEndpoint(d.conversation.remote, d.conversation.remotePort)] = d.name;
  }
  EXPECT_EQ(hosts, (std::map<std::string, std::string>{{"198.51.100.53", ""},
                                                       {"198.51.100.7", "ntp.example.org"},
                                                       {"198.51.100.8", "tls.example.com"},
                                                       {"198.51.100.9", ""}}));
  EXPECT_EQ(conversations, (std::map<std::string, std::string>{{"198.51.100.53:53", ""},
                                                               {"198.51.100.7:123", "ntp.example.org"},
                                                               {"198.51.100.7:80", "www.example.org"},
                                                               {"198.51.100.8:443", "tls.example.com"},
                                                               {"198.51.100.9:40003", ""}}));

  ASSERT_TRUE(engine.Replay(dir.File("again.pcap"), {kLocal}, nullptr).Ok());
  EXPECT_EQ(engine.Session()->Hosts(false).hosts.at(0).name, "");
}

}  // namespace
