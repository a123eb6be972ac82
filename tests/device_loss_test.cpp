// The traced device disappears during a trace: a veth pair in a network
// namespace of the test's own, one end traced, then deleted. The capture
// thread ends by itself, the user is told why, the controller reports the
// trace stopped, and a later Stop and Start still work. Root only.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/app_state.h"
#include "engine/capture_controller.h"
#include "engine/interface_record.h"
#include "tests/device_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!pred()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

struct CLossOutcome {
  std::string skip;  // why the scenario could not run here
  bool opened = false;
  bool endedByItself = false;
  int endedTraceId = 0;
  int traceId = 0;
  std::vector<std::string> messages;
  Clock::duration stopTime{};
  bool capturingAfterRestart = false;
};

// Runs on a thread of its own that moves into a new network namespace; the
// capture thread it starts and the `ip` commands it forks are in it too, and
// the namespace goes away with the thread.
void TraceAndDeleteDevice(CLossOutcome& out) {
  if (unshare(CLONE_NEWNET) != 0) {
    out.skip = "cannot create a network namespace";
    return;
  }
  if (!Shell("ip link add tfloss0 type veth peer name tfloss1") || !Shell("ip link set tfloss0 up") ||
      !Shell("ip link set tfloss1 up")) {
    out.skip = "cannot create a veth pair";
    return;
  }
  CAppState state;
  auto device = std::make_unique<CInterfaceRecord>();
  device->deviceName = "tfloss0";
  device->label = "1. tfloss0";
  device->AddAddress(10, 99, 0, 1);
  state.interfaces.push_back(std::move(device));
  state.interfaceIndex = 0;

  CCaptureController controller(state);
  std::atomic<int> ended{0};
  controller.SetEndedListener([&](int traceId) { ended = traceId; });
  controller.Start();
  out.traceId = controller.TraceId();
  // The device is open once frames sent into the other end are seen.
  out.opened = WaitFor(
      [&] {
        SendFrame("tfloss1");
        return controller.Stats().framesSeen > 0;
      },
      5000ms);
  Shell("ip link del tfloss0");
  out.endedByItself = WaitFor([&] { return !controller.IsCapturing(); }, 5000ms);
  out.endedTraceId = ended.load();
  out.messages = state.notifications.TakeAll();
  const auto stopStart = Clock::now();
  controller.Stop();
  out.stopTime = Clock::now() - stopStart;

  // A new device under the same name: the next Start traces again.
  Shell("ip link add tfloss0 type veth peer name tfloss1");
  Shell("ip link set tfloss0 up");
  controller.Start();
  std::this_thread::sleep_for(300ms);
  out.capturingAfterRestart = controller.IsCapturing();
  controller.Stop();
}

TEST(DeviceLoss, TraceEndsByItselfAndTellsTheUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  if (!Shell("command -v ip")) GTEST_SKIP() << "no ip command";
  CLossOutcome out;
  std::thread scenario(TraceAndDeleteDevice, std::ref(out));
  scenario.join();
  if (!out.skip.empty()) GTEST_SKIP() << out.skip;

  EXPECT_TRUE(out.opened) << "no frame reached the trace before the device went";
  EXPECT_TRUE(out.endedByItself) << "the controller still reports a running trace";
  EXPECT_EQ(out.endedTraceId, out.traceId) << "the ended listener was not called";
  ASSERT_EQ(out.messages.size(), 1u);
  EXPECT_EQ(out.messages[0].rfind("Capture on tfloss0 stopped: ", 0), 0u) << out.messages[0];
  EXPECT_LT(out.stopTime, 1500ms);
  EXPECT_TRUE(out.capturingAfterRestart);
}

}  // namespace
