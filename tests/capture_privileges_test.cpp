#include "engine/capture_privileges.h"

#include <gtest/gtest.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The calling thread's flag of one capability in one set.
bool Has(cap_value_t cap, cap_flag_t set) {
  cap_t caps = cap_get_proc();
  cap_flag_value_t value = CAP_CLEAR;
  cap_get_flag(caps, cap, set, &value);
  cap_free(caps);
  return value == CAP_SET;
}

// Runs `body` in a child process that became user nobody keeping only the
// capabilities `sets` names ("cap_net_raw+p", as a program with file
// capabilities starts); returns its exit status, or -1 when the child could
// not be set up.
template <typename Body>
int AsUnprivilegedUser(const char* sets, Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (prctl(PR_SET_KEEPCAPS, 1) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0) {
      _exit(100);
    }
    cap_t caps = cap_from_text(sets);
    if (caps == nullptr || cap_set_proc(caps) != 0) _exit(101);
    cap_free(caps);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) < 100 ? WEXITSTATUS(status) : -1;
}

class CapturePrivileges : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make an unprivileged child with capabilities";
  }
};

// Raising them around a device's opening, and their drop afterwards, is
// checked end to end by the unprivileged trace of tests/cli.
TEST_F(CapturePrivileges, NothingRaisedWithoutBothPermitted) {
  EXPECT_EQ(AsUnprivilegedUser("cap_net_raw+p", [] {
              const CCapturePrivileges privileges;
              return privileges.Raised() || Has(CAP_NET_RAW, CAP_EFFECTIVE) ? 1 : 0;
            }), 0);
}

TEST_F(CapturePrivileges, StartUpDropsAnEffectiveSetFromPlusEp) {
  EXPECT_EQ(AsUnprivilegedUser("cap_net_raw,cap_net_admin+ep", [] {
              if (!Has(CAP_NET_RAW, CAP_EFFECTIVE)) return 1;
              CCapturePrivileges::DropEffective();
              return Has(CAP_NET_RAW, CAP_EFFECTIVE) || !Has(CAP_NET_RAW, CAP_PERMITTED) ? 2 : 0;
            }), 0);
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
