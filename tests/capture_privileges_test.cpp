#include "engine/capture_privileges.h"

#include <gtest/gtest.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

// The calling thread's flag of one capability in one set.
bool Has(cap_value_t cap, cap_flag_t set) {
  cap_t caps = cap_get_proc();
  cap_flag_value_t value = CAP_CLEAR;
  cap_get_flag(caps, cap, set, &value);
  cap_free(caps);
  return value == CAP_SET;
}

// Runs `body` in a child process that became user nobody keeping only
// `permitted` (as a program with file capabilities "+p" starts); returns
// its exit status, or -1 when the child could not be set up.
template <typename Body>
int AsUnprivilegedUser(const std::vector<cap_value_t>& permitted, Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (prctl(PR_SET_KEEPCAPS, 1) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0) {
      _exit(100);
    }
    cap_t caps = cap_init();
    if (!permitted.empty())
      cap_set_flag(caps, CAP_PERMITTED, static_cast<int>(permitted.size()), permitted.data(), CAP_SET);
    if (cap_set_proc(caps) != 0) _exit(101);
    cap_free(caps);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) >= 100) return -1;
  return WEXITSTATUS(status);
}

class CapturePrivileges : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make an unprivileged child with capabilities";
  }
};

TEST_F(CapturePrivileges, RaisedOnlyWhileHeldThenDropped) {
  const int result = AsUnprivilegedUser({CAP_NET_RAW, CAP_NET_ADMIN}, [] {
    if (Has(CAP_NET_RAW, CAP_EFFECTIVE)) return 1;
    {
      const CCapturePrivileges privileges;
      if (!privileges.Raised()) return 2;
      if (!Has(CAP_NET_RAW, CAP_EFFECTIVE) || !Has(CAP_NET_ADMIN, CAP_EFFECTIVE)) return 3;
    }
    if (Has(CAP_NET_RAW, CAP_EFFECTIVE) || Has(CAP_NET_ADMIN, CAP_EFFECTIVE)) return 4;
    // Still permitted, for the next trace.
    if (!Has(CAP_NET_RAW, CAP_PERMITTED)) return 5;
    return 0;
  });
  EXPECT_EQ(result, 0);
}

TEST_F(CapturePrivileges, NothingRaisedWithoutBothPermitted) {
  const int result = AsUnprivilegedUser({CAP_NET_RAW}, [] {
    const CCapturePrivileges privileges;
    return privileges.Raised() || Has(CAP_NET_RAW, CAP_EFFECTIVE) ? 1 : 0;
  });
  EXPECT_EQ(result, 0);
}

TEST_F(CapturePrivileges, StartUpDropsAnEffectiveSetFromPlusEp) {
  const int result = AsUnprivilegedUser({CAP_NET_RAW, CAP_NET_ADMIN}, [] {
    cap_t caps = cap_get_proc();
    const cap_value_t raw = CAP_NET_RAW;
    cap_set_flag(caps, CAP_EFFECTIVE, 1, &raw, CAP_SET);
    cap_set_proc(caps);
    cap_free(caps);
    if (!Has(CAP_NET_RAW, CAP_EFFECTIVE)) return 1;
    CCapturePrivileges::DropEffective();
    return Has(CAP_NET_RAW, CAP_EFFECTIVE) || !Has(CAP_NET_RAW, CAP_PERMITTED) ? 2 : 0;
  });
  EXPECT_EQ(result, 0);
}

TEST_F(CapturePrivileges, RootIsLeftAloneAndWarnedOnce) {
  {
    const CCapturePrivileges privileges;
    EXPECT_FALSE(privileges.Raised());
  }
  EXPECT_TRUE(Has(CAP_NET_RAW, CAP_EFFECTIVE));
  // The first call may already have come from another test's trace.
  CCapturePrivileges::WarnIfRoot();
  EXPECT_FALSE(CCapturePrivileges::WarnIfRoot());
}

}  // namespace
