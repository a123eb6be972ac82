#include "engine/capture_controller.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/app_state.h"
#include "engine/interface_record.h"
#include "model/traffic_model.h"

namespace {

using Clock = std::chrono::steady_clock;

class CaptureControllerTest : public ::testing::Test {
 protected:
  CaptureControllerTest() {
    controller.SetEndedListener([this](int id) {
      endedId = id;
      ++endedCount;
    });
  }

  void AddDevice(const std::string& name) {
    auto r = std::make_unique<CInterfaceRecord>();
    r->label = std::to_string(state.interfaces.size() + 1) + ". " + name;
    r->deviceName = name;
    r->AddAddress(127, 0, 0, 1);
    state.interfaces.push_back(std::move(r));
  }

  void StartOn(const std::string& name) {
    AddDevice(name);
    state.interfaceIndex = 0;
    controller.Start();
  }

  void ExpectStopIsQuick() {
    const auto before = Clock::now();
    controller.Stop();
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(1500));
  }

  bool WaitUntil(const std::function<bool()>& done, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (Clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  uint64_t PacketsSentTo(uint16_t port) {
    std::lock_guard<std::mutex> lock(state.trafficLock);
    uint64_t n = 0;
    for (const auto& c : state.Model().conversations.Conversations())
      if (c->remotePort == port) n += c->packetsSent;
    return n;
  }

  CAppState state;
  CCaptureController controller{state};
  std::atomic<int> endedId{0};
  std::atomic<int> endedCount{0};
};

TEST_F(CaptureControllerTest, StartWithoutInterfaceDoesNothing) {
  controller.Start();
  EXPECT_FALSE(controller.IsCapturing());
  EXPECT_EQ(controller.TraceId(), 0);
  AddDevice("lo");
  state.interfaceIndex = 1;  // outside the list
  controller.Start();
  EXPECT_FALSE(controller.IsCapturing());
  EXPECT_EQ(controller.RunningFlag().load(), 0);
  EXPECT_EQ(state.selectedInterface.load(), nullptr);
  controller.Stop();
  controller.Stop();
  EXPECT_TRUE(state.notifications.TakeAll().empty());
}

TEST_F(CaptureControllerTest, DeviceThatCannotBeOpenedEndsStoppedAndSaysWhy) {
  testing::internal::CaptureStderr();
  StartOn("trafalyn-none0");
  EXPECT_EQ(state.selectedInterface.load(), state.interfaces[0].get());
  ASSERT_TRUE(WaitUntil([&] { return !controller.IsCapturing(); }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return endedCount.load() == 1; }, 1000));
  controller.Stop();  // releases the thread that ended by itself
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "\nUnable to open the adapter. trafalyn-none0 is not supported by WinPcap\n");
  EXPECT_EQ(endedId.load(), 1);
  const std::vector<std::string> messages = state.notifications.TakeAll();
  ASSERT_EQ(messages.size(), 1u);
  const std::string head = "Unable to open the adapter trafalyn-none0.\n";
  EXPECT_EQ(messages[0].rfind(head, 0), 0u) << messages[0];
  EXPECT_GT(messages[0].size(), head.size());  // the library's reason follows
  EXPECT_EQ(controller.Stats().framesSeen, 0u);
  EXPECT_EQ(state.Model().conversations.Size(), 0u);
}

TEST_F(CaptureControllerTest, StartTwiceEndsTheFirstTrace) {
  AddDevice("trafalyn-none0");
  AddDevice("trafalyn-none1");
  state.interfaceIndex = 0;
  testing::internal::CaptureStderr();
  controller.Start();
  state.interfaceIndex = 1;
  controller.Start();
  ASSERT_TRUE(WaitUntil([&] { return !controller.IsCapturing(); }, 5000));
  controller.Stop();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(controller.TraceId(), 2);
  EXPECT_NE(err.find("trafalyn-none1 is not supported"), std::string::npos);
  EXPECT_EQ(endedId.load(), 2);
}

class LiveCaptureTest : public CaptureControllerTest,
                        public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "live capture needs root; skipped";
  }

  static void SendDatagrams(uint16_t port, int count) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
      const std::string text = "trafalyn datagram " + std::to_string(i);
      sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    close(fd);
  }
};

TEST_P(LiveCaptureTest, RecordsLoopbackDatagramsUntilStop) {
  StartOn(GetParam());
  ASSERT_TRUE(controller.IsCapturing());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the socket is bound
  const uint16_t port = 39871;
  SendDatagrams(port, 5);
  ASSERT_TRUE(WaitUntil([&] { return PacketsSentTo(port) >= 5; }, 4000))
      << "recorded " << PacketsSentTo(port) << "; notices: "
      << (state.notifications.TakeAll().empty() ? "none" : "some");
  EXPECT_TRUE(controller.IsCapturing());
  EXPECT_GE(controller.Stats().framesRecorded, 5u);
  EXPECT_GE(controller.Stats().framesSeen, controller.Stats().framesRecorded);

  ExpectStopIsQuick();
  EXPECT_FALSE(controller.IsCapturing());
  const uint64_t atStop = PacketsSentTo(port);
  SendDatagrams(port, 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(PacketsSentTo(port), atStop);
  EXPECT_EQ(endedCount.load(), 0);
  {
    std::lock_guard<std::mutex> lock(state.trafficLock);
    const CPacketRecord& r = *state.Model().recent.back();
    EXPECT_EQ(r.protocol, 17);
    EXPECT_EQ(r.direction, 1);
    const std::string payload(r.Payload().begin(), r.Payload().end());
    EXPECT_EQ(payload.rfind("trafalyn datagram ", 0), 0u) << payload;
  }
  EXPECT_TRUE(state.notifications.TakeAll().empty());
}

TEST_P(LiveCaptureTest, StopOnAQuietDeviceReturnsQuickly) {
  StartOn(GetParam());
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ExpectStopIsQuick();
  controller.Start();  // stopped before the device is even open
  ExpectStopIsQuick();
  EXPECT_FALSE(controller.IsCapturing());
  EXPECT_EQ(controller.TraceId(), 2);
}

TEST_P(LiveCaptureTest, QuitFlagEndsTheTrace) {
  StartOn(GetParam());
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  state.quit = 1;
  SendDatagrams(39872, 1);
  ASSERT_TRUE(WaitUntil([&] { return !controller.IsCapturing(); }, 2500));
  EXPECT_EQ(endedCount.load(), 1);
}

TEST_F(CaptureControllerTest, DeviceRemovedMidTraceEndsTheTrace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to add a network device";
  const std::string name = "trcap" + std::to_string(getpid() % 100000);
  const std::string add = "ip link add " + name + " type veth peer name " + name + "p >/dev/null 2>&1 && ip link set " + name + " up && ip link set " + name + "p up";
  if (std::system(add.c_str()) != 0) GTEST_SKIP() << "cannot create a veth pair here";
  StartOn(name);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(controller.IsCapturing());
  ASSERT_EQ(std::system(("ip link del " + name).c_str()), 0);
  EXPECT_TRUE(WaitUntil([&] { return !controller.IsCapturing(); }, 3000));
  EXPECT_EQ(endedCount.load(), 1);
  controller.Stop();
  const std::vector<std::string> messages = state.notifications.TakeAll();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Capture on " + name + " stopped: ", 0), 0u) << messages[0];
}

INSTANTIATE_TEST_SUITE_P(Devices, LiveCaptureTest, ::testing::Values("lo", "any"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
