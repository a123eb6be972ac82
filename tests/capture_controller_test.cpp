#include "engine/capture_controller.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/capture_session.h"
#include "engine/interface_record.h"
#include "engine/notification_queue.h"
#include "tests/test_support.h"

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

  void StartOn(const std::string& name) {
    CInterfaceRecord device;
    device.deviceName = name;
    device.AddAddress(127, 0, 0, 1);
    controller.Start(session, device);
  }

  void ExpectStopIsQuick() {
    const auto before = Clock::now();
    controller.Stop();
    EXPECT_LT(Clock::now() - before, std::chrono::milliseconds(1500));
  }

  bool WaitUntil(const std::function<bool()>& done, int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
  }

  uint64_t PacketsSentTo(uint16_t port) {
    uint64_t n = 0;
    for (const auto& row : session->ConversationRows()) {
      if (row.conversation.remotePort == port && row.row.direction == kSent) n += row.conversation.packetsSent;
    }
    return n;
  }

  CNotificationQueue notifications;
  CCaptureSwitches switches;
  CActiveFilterRules filters;
  CCancelToken cancel;
  std::shared_ptr<CCaptureSession> session =
      std::make_shared<CCaptureSession>(1, CSessionClock::EKind::kWall, switches, filters, cancel);
  CCaptureController controller{notifications};
  std::atomic<int> endedId{0};
  std::atomic<int> endedCount{0};
};

TEST_F(CaptureControllerTest, DeviceThatCannotBeOpenedEndsStoppedAndSaysWhy) {
  testing::internal::CaptureStderr();
  StartOn("trafalyn-none0");
  EXPECT_EQ(controller.DeviceName(), "trafalyn-none0");
  ASSERT_TRUE(WaitUntil([&] { return !controller.IsCapturing(); }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return endedCount.load() == 1; }, 1000));
  controller.Stop();  // releases the thread that ended by itself
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("\nUnable to open the adapter. trafalyn-none0: ", 0), 0u) << err;
  EXPECT_EQ(endedId.load(), 1);
  const std::vector<std::string> messages = notifications.TakeAll();
  ASSERT_EQ(messages.size(), 1u);
  const std::string head = "Unable to open the adapter trafalyn-none0.\n";
  EXPECT_EQ(messages[0].rfind(head, 0), 0u) << messages[0];
  EXPECT_GT(messages[0].size(), head.size());  // the library's reason follows
  EXPECT_EQ(controller.Stats().framesSeen, 0u);
  EXPECT_FALSE(session->HoldsData());
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
  const uint16_t port = 19871;  // below the sender's ephemeral port: the client's end
  SendDatagrams(port, 5);
  ASSERT_TRUE(WaitUntil([&] { return PacketsSentTo(port) >= 5; }, 4000))
      << "recorded " << PacketsSentTo(port);
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
  uint64_t seen = 0;
  std::string text;
  ASSERT_TRUE(session->RecentPacketsText(seen, text));
  EXPECT_NE(text.find("trafalyn datagram 4"), std::string::npos);
  EXPECT_TRUE(notifications.TakeAll().empty());
}

TEST_P(LiveCaptureTest, StopOrCancelOnAQuietDeviceEndsTheTraceQuickly) {
  StartOn(GetParam());
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ExpectStopIsQuick();
  StartOn(GetParam());  // stopped before the device is even open
  ExpectStopIsQuick();
  EXPECT_FALSE(controller.IsCapturing());
  EXPECT_EQ(controller.TraceId(), 2);
  StartOn(GetParam());
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  cancel.Cancel();
  SendDatagrams(19872, 1);
  ASSERT_TRUE(WaitUntil([&] { return !controller.IsCapturing(); }, 2500));
  EXPECT_EQ(endedCount.load(), 1);
}

// An HTTP exchange between two ends of this host: in Client role the
// request is sent and the answer received, one conversation with a real
// response time, not two one-way ones.
TEST_F(CaptureControllerTest, LoopbackRequestAndAnswerShareAConversation) {
  if (geteuid() != 0) GTEST_SKIP() << "live capture needs root; skipped";
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Below the ephemeral range, so that the client's end has the higher port.
  uint16_t port = 0;
  for (uint16_t p = 18080; p < 18180 && port == 0; ++p) {
    at.sin_port = htons(p);
    if (bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) port = p;
  }
  ASSERT_NE(port, 0);
  ASSERT_EQ(listen(listener, 1), 0);
  StartOn("lo");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::thread server([listener] {
    const int peer = accept(listener, nullptr, nullptr);
    char request[256];
    [[maybe_unused]] const ssize_t got = recv(peer, request, sizeof request, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello";
    [[maybe_unused]] const ssize_t sent = send(peer, answer.data(), answer.size(), 0);
    close(peer);
  });
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  const std::string request = "GET / HTTP/1.0\r\nHost: localhost\r\n\r\n";
  ASSERT_EQ(send(client, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  char answer[256];
  EXPECT_GT(recv(client, answer, sizeof answer, MSG_WAITALL), 0);
  server.join();
  close(client);
  close(listener);
  const auto exchange = [&]() -> std::optional<CConversationSnapshot> {
    for (const auto& row : session->ConversationRows()) {
      if (row.conversation.remotePort == port && row.conversation.Answered()) return row.conversation;
    }
    return std::nullopt;
  };
  ASSERT_TRUE(WaitUntil([&] { return exchange().has_value(); }, 4000));
  controller.Stop();
  const CConversationSnapshot c = *exchange();
  EXPECT_EQ(c.packetsSent, 1u);
  EXPECT_EQ(c.packetsReceived, 1u);
  using T = CConversationSnapshot;
  EXPECT_GT(c.times[T::kLastTime].sec * 1000000LL + c.times[T::kLastTime].usec,
            c.times[T::kFirstTime].sec * 1000000LL + c.times[T::kFirstTime].usec);
  for (const auto& row : session->ConversationRows()) EXPECT_NE(row.conversation.localPort, port);
}

TEST_F(CaptureControllerTest, DeviceRemovedMidTraceEndsTheTrace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to add a network device";
  const std::string name = "trcap" + std::to_string(getpid() % 100000);
  if (!Shell("ip link add " + name + " type veth peer name " + name + "p && ip link set " + name +
             " up && ip link set " + name + "p up"))
    GTEST_SKIP() << "cannot create a veth pair here";
  StartOn(name);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(controller.IsCapturing());
  ASSERT_TRUE(Shell("ip link del " + name));
  EXPECT_TRUE(WaitUntil([&] { return !controller.IsCapturing(); }, 3000));
  EXPECT_EQ(endedCount.load(), 1);
  controller.Stop();
  const std::vector<std::string> messages = notifications.TakeAll();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Capture on " + name + " stopped: ", 0), 0u) << messages[0];
}

INSTANTIATE_TEST_SUITE_P(Devices, LiveCaptureTest, ::testing::Values("lo", "any"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
