// The statistics and trace logs: every conversation once, every packet once
// (or marked where it fell behind), passes by the session's clock, failures
// said once. A file of its own per session is the engine test's.
#include "engine/log_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "engine/notification_queue.h"
#include "output/log_text.h"
#include "tests/test_support.h"

namespace {

constexpr int32_t kStart = 1165327387;  // 2006-12-05 14:03:07 UTC

class LogServiceTest : public ::testing::Test {
 protected:
  LogServiceTest() { NewSession(CSessionClock::EKind::kCapture); }

  void NewSession(CSessionClock::EKind kind) {
    session = std::make_shared<CCaptureSession>(++ids, kind, switches, filters, cancel);
    logs.Attach(session);
  }

  void SetLogs(bool stats, bool data, std::string dir = {}) {
    logs.SetOptions({true, stats, data, false, dir.empty() ? folder.Path() : dir});
  }

  // One packet of an exchange, as a replay feeds it.
  void Packet(EDirection d, int32_t sec, uint16_t port, uint8_t host = 5,
              std::string_view payload = "data") {
    session->Clock().Advance(sec);
    session->Record(TcpFields(d, 1, static_cast<int>(payload.size()), {sec, 0}, CIpAddr(10, 0, 5, host), port),
                    AsBytes(payload));
    logs.AfterFrame(session->Clock(), true);
  }

  void Finish() {
    session->Finish();
    logs.Pass(ELogPass::kFinal);
  }

  // The ConvIds of the rows of the statistics log.
  std::vector<int> LoggedIds() {
    std::vector<int> ids;
    for (const std::string& name : folder.Names()) {
      std::istringstream in(ReadFileBytes(folder.File(name)));
      std::string line;
      std::getline(in, line);  // header
      while (name.starts_with("stats") && std::getline(in, line))
        ids.push_back(std::stoi(line.substr(line.find("\",\"", line.find("\",\"") + 3) + 3)));
    }
    return ids;
  }

  ScopedTimeZone zone{"UTC"};
  TempDir folder;
  CNotificationQueue notifications;
  CCaptureSwitches switches;
  CActiveFilterRules filters;
  CCancelToken cancel;
  CLogService logs{notifications};
  std::shared_ptr<CCaptureSession> session;
  int ids = 0;
};

TEST_F(LogServiceTest, EveryConversationReachesTheStatisticsLogOnce) {
  SetLogs(true, false);
  // 2,500 exchanges: the table trims the oldest, passes write some early.
  for (int i = 0; i < 2500; ++i) {
    Packet(kSent, kStart + i / 50, static_cast<uint16_t>(1000 + i % 50), static_cast<uint8_t>(i / 50));
  }
  Finish();
  std::vector<int> ids = LoggedIds();
  std::sort(ids.begin(), ids.end());
  ASSERT_EQ(ids.size(), 2500u);
  for (int i = 0; i < 2500; ++i) EXPECT_EQ(ids[static_cast<std::size_t>(i)], i + 1);
  EXPECT_EQ(logs.RowsNotWritten(), 0u);
}

struct DueCase {
  const char* name;
  bool answered;
  int lastAt;  // seconds after the start: the exchange's packets
  int passAt;  // seconds after the start: a normal pass (more than 15)
  int newer;   // conversations opened after it
  bool early;  // written by that pass, before it is final
};

class LogDueTest : public LogServiceTest, public ::testing::WithParamInterface<DueCase> {};

TEST_P(LogDueTest, OpenConversationsAreWrittenWhenDue) {
  const DueCase& c = GetParam();
  SetLogs(true, false);
  Packet(kSent, kStart, 9, 99);  // starts the pass clock
  Packet(kSent, kStart + c.lastAt, 80);
  if (c.answered) Packet(kReceived, kStart + c.lastAt, 80);
  for (int i = 0; i < c.newer; ++i) Packet(kSent, kStart + c.lastAt, static_cast<uint16_t>(2000 + i));
  Packet(kSent, kStart + c.passAt, 9, 98);
  const std::vector<int> ids = LoggedIds();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 2), c.early ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LogDueTest,
    ::testing::Values(DueCase{"OneWayIdle16", false, 0, 16, 0, false},
                      DueCase{"OneWayIdle31", false, 0, 31, 0, true},
                      DueCase{"AnsweredIdle16", true, 0, 16, 0, true},
                      DueCase{"AnsweredIdle4", true, 12, 16, 0, false},
                      DueCase{"BehindFortyNewer", false, 12, 16, 41, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogServiceTest, TraceLogGetsEveryPacketInOrder) {
  SetLogs(false, true);
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    Packet(kSent, kStart + i, 80, 5, "packet " + std::to_string(i));
    session->WithModel([&](const CTrafficModel& m) {
      AppendTraceText(expected, *m.recent.back(), false);
      return 0;
    });
  }
  Finish();
  const std::vector<std::string> names = folder.Names();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], LogFileName("", "trace", kStart + 16));
  EXPECT_TRUE(ReadFileBytes(folder.File(names[0])) == expected);
}

TEST_F(LogServiceTest, TraceLogMarksWhatDidNotFitItsQueue) {
  NewSession(CSessionClock::EKind::kWall);  // live: only the timer drains
  SetLogs(false, true);
  const std::string payload(60000, 'p');
  const std::size_t fit = CLogService::kQueueBytes / (60000 + 256);
  for (std::size_t i = 0; i < fit + 10; ++i) {
    session->Record(TcpFields(kSent, static_cast<uint32_t>(i * 60000), 60000), AsBytes(payload));
  }
  EXPECT_EQ(logs.PacketsNotWritten(), 10u);
  Finish();
  const std::string text = ReadFileBytes(folder.File(folder.Names().at(0)));
  EXPECT_TRUE(text.ends_with("\r\n(10 packets not written: the trace log fell behind)\r\n"));
}

TEST_F(LogServiceTest, AFileThatCannotBeMadeSwitchesLoggingOffWithOneMessage) {
  SetLogs(true, true, folder.File("missing"));
  for (int i = 0; i < 3; ++i) Packet(kSent, kStart + 20 * i, 80);
  Finish();
  EXPECT_TRUE(logs.Failed());
  EXPECT_FALSE(logs.Options().enabled);
  EXPECT_EQ(notifications.TakeAll(),
            std::vector<std::string>{"Could not open file: " +
                                     LogFileName(folder.File("missing"), "stats", kStart + 20) +
                                     ": No such file or directory"});
}

}  // namespace
