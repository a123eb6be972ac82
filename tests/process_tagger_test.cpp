#include "engine/process_tagger.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fake_proc_tree.h"
#include "fake_socket_table.h"
#include "processes/proc_socket_scanner.h"
#include "processes/socket_owner_cache.h"
#include "test_support.h"

namespace {

const CIpAddr kHost(10, 0, 0, 1), kPeer(10, 0, 5, 5), kLoop(127, 0, 0, 1);

CSocketRecord Socket(CIpAddr local, uint16_t localPort, CIpAddr remote, uint16_t remotePort, uint64_t inode) {
  return CSocketRecord{6, local, localPort, remote, remotePort, false, 0, inode};
}

// A live session's conversations get their programs once the answers land,
// both ends of a loopback one included; the programs add up by name over
// both ends, and each host names the program that moved the most bytes.
TEST(ProcessTagger, NamesConversationsAndAddsUpPrograms) {
  FakeProcTree proc;
  proc.Add({10, "curl", "/usr/bin/curl", {"socket:[1]"}});
  proc.Add({11, "curl", "/usr/bin/curl", {"socket:[2]"}});
  proc.Add({20, "python3", "/usr/bin/python3.11", {"socket:[3]"}});
  auto table = std::make_unique<FakeSocketTable>();
  table->Set({Socket(kHost, 40000, kPeer, 80, 1), Socket(kLoop, 40002, kLoop, 8080, 2),
              Socket(kLoop, 8080, kLoop, 40002, 3)});
  CSocketOwnerCache::CSources sources;
  sources.table = std::move(table);
  sources.scanner = std::make_unique<CProcSocketScanner>(proc.Root(), false);
  CSocketOwnerCache cache(std::move(sources), {});
  CTestSession test;
  test.session.SetProcessCache(&cache);
  CProcessTagger tagger(test.session, cache);

  struct Packet {
    CPacketFields fields;
    bool bothLocal;
  };
  CPacketFields loop = TcpFields(EDirection::kSent, 1, 300, {1000, 0}, kLoop, 8080, 40002);
  loop.local = kLoop;
  const std::vector<Packet> packets = {
      {TcpFields(EDirection::kSent, 1, 100, {1000, 0}, kPeer, 80, 40000), false},
      {TcpFields(EDirection::kReceived, 1, 1000, {1000, 1}, kPeer, 80, 40000), false},
      {TcpFields(EDirection::kSent, 1, 50, {1000, 2}, kPeer, 80, 40001), false},
      {loop, true},
  };
  for (const Packet& p : packets) {
    const CRecordedPacket recorded = test.session.Record(p.fields, AsBytes(std::string(20, 'x')));
    if (recorded.askOwner) tagger.Ask(p.fields, recorded, p.bothLocal);
  }
  tagger.Drain(5000);

  struct Expected {
    const char* process;
    int32_t pid;
    const char* peer;
  };
  const std::vector<Expected> expected = {{"curl", 10, ""}, {"(gone)", 0, ""}, {"curl", 11, "python3.11"}};
  const std::vector<CConversationRowData> rows = test.session.ConversationRows();
  std::size_t c = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0 && rows[i].row.convId == rows[i - 1].row.convId) continue;
    SCOPED_TRACE(c);
    ASSERT_LT(c, expected.size());
    const CConversationSnapshot& s = rows[i].conversation;
    EXPECT_EQ(s.process.Text(), expected[c].process);
    EXPECT_EQ(s.process.Pid(), expected[c].pid);
    EXPECT_EQ(s.peerProcess.Text(), expected[c++].peer);
  }
  EXPECT_EQ(c, expected.size());

  const std::vector<CProcessSummary> programs = test.session.Processes();
  ASSERT_EQ(programs.size(), 2u);
  EXPECT_EQ(programs[0], (CProcessSummary{"curl", {10, 11}, 100 + 40 + 300 + 40, 1000 + 40, 2, 1}));
  EXPECT_EQ(programs[1], (CProcessSummary{"python3.11", {20}, 0, 300 + 40, 0, 1}));
  for (const CHostSummary& h : test.session.Hosts(false).hosts) EXPECT_EQ(h.topProcess, "curl");
}

}  // namespace
