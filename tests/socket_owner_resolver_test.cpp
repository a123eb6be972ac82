#include "processes/socket_owner_resolver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_proc_tree.h"
#include "fake_socket_table.h"
#include "processes/proc_socket_scanner.h"

namespace {

constexpr uint32_t kOurUid = 1000;
constexpr uint32_t kOtherUid = 1001;

TEST(SocketOwnerResolver, JudgesOnlyWhatItSaw) {
  CSocketRecord open;
  open.uid = kOtherUid;
  open.inode = 5;
  CSocketRecord ours = open;
  ours.uid = kOurUid;
  CSocketRecord lingering = open;
  lingering.inode = 0;
  const auto curl = std::make_shared<CProcessIdentity>(CProcessIdentity{7, "curl"});
  const auto wget = std::make_shared<CProcessIdentity>(CProcessIdentity{8, "wget"});

  struct Case {
    const char* what;
    CSocketOwnerResolver::CEvidence evidence;
    EOwnerState state;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"held by a process read in /proc", {true, &open, curl, wget, false}, EOwnerState::kKnown, "curl"},
      {"closed, but the tracer saw it", {true, nullptr, nullptr, wget, false}, EOwnerState::kKnown, "wget"},
      {"closed before anyone looked", {true, nullptr, nullptr, nullptr, false}, EOwnerState::kGone, "(gone)"},
      {"kept by the kernel only", {true, &lingering, nullptr, nullptr, true}, EOwnerState::kGone, "(gone)"},
      {"another user's, unreadable", {true, &open, nullptr, nullptr, true}, EOwnerState::kOtherUser,
       "(other user)"},
      {"another user's, all read", {true, &open, nullptr, nullptr, false}, EOwnerState::kGone, "(gone)"},
      {"ours, held by an uninspectable process", {true, &ours, nullptr, nullptr, true},
       EOwnerState::kUnknown, ""},
      {"table unreadable", {false, nullptr, nullptr, nullptr, false}, EOwnerState::kUnknown, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CProcessOwner owner = CSocketOwnerResolver::Judge(c.evidence, kOurUid);
    EXPECT_EQ(owner.state, c.state);
    EXPECT_EQ(owner.Text(), c.text);
  }
}

CSocketRecord Record(uint8_t protocol, CIpAddr local, uint16_t localPort, CIpAddr remote,
                     uint16_t remotePort, uint64_t inode, bool listening = false) {
  return CSocketRecord{protocol, local, localPort, remote, remotePort, listening, kOurUid, inode};
}

// Which socket of the table a conversation belongs to: its own, or the
// listening or unconnected one bound to its local address or to all.
TEST(SocketOwnerResolver, MatchesConversationsToSockets) {
  const CIpAddr host(198, 51, 100, 1), peer(198, 51, 100, 2), any;
  const CIpAddr anyV6 = CIpAddr::V6(std::array<uint8_t, 16>{});
  FakeProcTree proc;
  proc.Add({10, "curl", "/usr/bin/curl", {"socket:[1]"}});
  proc.Add({20, "nginx", "/usr/sbin/nginx", {"socket:[2]"}});
  proc.Add({30, "avahi-daemon", "/usr/sbin/avahi-daemon", {"socket:[3]"}});
  proc.Add({40, "dnsmasq", "/usr/sbin/dnsmasq", {"socket:[4]"}});
  FakeSocketTable table;
  table.Set({Record(6, host, 40000, peer, 80, 1), Record(6, any, 8080, any, 0, 2, true),
             Record(17, anyV6, 5353, anyV6, 0, 3), Record(17, host, 53, any, 0, 4),
             Record(6, host, 9000, any, 0, 99)});  // bound, neither listening nor connected
  const CProcSocketScanner scanner(proc.Root(), false);
  CSocketOwnerResolver resolver(table, scanner, nullptr, kOurUid);

  struct Case {
    CSocketKey key;
    const char* text;
  };
  const std::vector<Case> cases = {
      {{6, host, 40000, peer, 80}, "curl"},
      {{6, host, 40001, peer, 80}, "(gone)"},
      {{6, host, 8080, peer, 51000}, "nginx"},  // accepted socket already closed
      {{17, host, 5353, peer, 5353}, "avahi-daemon"},
      {{17, host, 53, peer, 40404}, "dnsmasq"},
      {{17, peer, 53, host, 40404}, "(gone)"},
      {{6, host, 9000, peer, 1234}, "(gone)"},
  };
  std::vector<CSocketKey> keys;
  for (const Case& c : cases) keys.push_back(c.key);
  std::vector<CSocketOwnerNews> news;
  resolver.Resolve(keys, 1'000'000, news);
  ASSERT_EQ(news.size(), cases.size());
  EXPECT_EQ(table.Reads(), 1);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(news[i].key, cases[i].key);
    EXPECT_EQ(news[i].owner.Text(), cases[i].text);
    // Only a socket still open is watched; the others hold for what came
    // before this look-up.
    EXPECT_EQ(news[i].closed, std::string(cases[i].text) == "(gone)");
  }
}

}  // namespace
