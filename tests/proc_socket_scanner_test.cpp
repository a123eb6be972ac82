#include "processes/proc_socket_scanner.h"

#include <gtest/gtest.h>

#include <vector>

#include "fake_proc_tree.h"

namespace {

class ProcSocketScanner : public ::testing::Test {
 protected:
  void SetUp() override {
    proc_.Add({100, "curl", "/usr/bin/curl", {"/dev/null", "socket:[1001]", "pipe:[77]"}});
    // Shares socket 1001 with its parent; its comm is cut at 15 characters
    // and its executable was replaced on disk.
    proc_.Add({200, "a-very-long-pro", "/opt/app/a-very-long-program-name (deleted)",
               {"socket:[2002]", "socket:[1001]"}});
    // Renamed itself: its own name wins over the interpreter's.
    proc_.Add({300, "my-worker", "/usr/bin/python3.11", {"socket:[3003]", "socket:[30030]x"}});
    // Ended while the scan ran: no comm any more.
    proc_.Add({400, "", "", {"socket:[4004]"}});
  }

  FakeProcTree proc_;
  CProcSocketScanner scanner_{proc_.Root(), false};
};

TEST_F(ProcSocketScanner, FindsHoldersAndNamesThem) {
  struct Case {
    uint64_t inode;
    int32_t firstPid;  // read before the others; 0: none
    int32_t pid;       // 0: not found
    const char* name;
  };
  const std::vector<Case> cases = {
      {1001, 0, 200, "a-very-long-program-name"},  // newest holder first
      {1001, 100, 100, "curl"},                     // a known owner first
      {2002, 0, 200, "a-very-long-program-name"},
      {3003, 0, 300, "my-worker"},
      {30030, 0, 0, ""},  // malformed link text
      {4004, 0, 0, ""},   // the holder ended
      {9999, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inode);
    std::vector<int32_t> first;
    if (c.firstPid != 0) first.push_back(c.firstPid);
    const CProcScanResult result = scanner_.Scan({c.inode}, first);
    const auto it = result.owners.find(c.inode);
    if (c.pid == 0) {
      EXPECT_EQ(it, result.owners.end());
      EXPECT_FALSE(result.stoppedEarly);
      continue;
    }
    ASSERT_NE(it, result.owners.end());
    EXPECT_EQ(it->second->pid, c.pid);
    EXPECT_EQ(it->second->name, c.name);
    EXPECT_TRUE(result.stoppedEarly);
  }
}

TEST_F(ProcSocketScanner, OneScanFindsSeveral) {
  const CProcScanResult result = scanner_.Scan({1001, 2002, 3003, 9999}, {});
  EXPECT_EQ(result.owners.size(), 3u);
  EXPECT_TRUE(result.unreadableUids.empty());
}

}  // namespace
