#include "output/log_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output/conversation_text.h"
#include "output/csv_row.h"
#include "output/packet_text.h"
#include "output_test_support.h"

namespace {

const std::string kStatsHeader =
    "\"Date\",\"Time\",\"ConvId\",\"Sent Bytes\",\"Rcv Bytes\",\"Pkts Sent\",\"Pkts Rcvd\","
    "\"Response Time\",\"Send\",\"Recieve\"\n";

class LogWriter : public ::testing::Test {
 protected:
  LogWriter() {
    state_.logDir = dir_.Path();
    state_.logToFile = 1;
  }

  CConversation& Exchange(uint16_t port, int sent, int received, int32_t last,
                          std::string_view payload = "data") {
    for (int i = 0; i < sent + received; ++i) {
      const int d = i < sent ? kDirSent : kDirReceived;
      CPacketFields f = TcpFields(d, static_cast<uint32_t>(i + 1),
                                  static_cast<int>(payload.size()), {last, i},
                                  CIpAddr(10, 0, 5, 5), port);
      model_.Record(f, AsBytes(payload));
    }
    return *model_.conversations.Conversations().back();
  }

  std::string StatsName(int64_t now) const { return LogFileName(dir_.Path(), "stats", now); }
  std::string TraceName(int64_t now) const { return LogFileName(dir_.Path(), "trace", now); }

  std::vector<int> LoggedIds() const {
    std::vector<int> ids;
    for (const auto& c : model_.conversations.Conversations()) {
      if (c->statsLogged) ids.push_back(c->convId);
    }
    return ids;
  }

  ScopedTimeZone zone_{"UTC"};
  TempDir dir_;
  CAppState state_;
  CTrafficModel& model_ = state_.Model();
};

TEST(LogFileNames, JoinDirectoryStampAndPrefix) {
  ScopedTimeZone zone("UTC");
  EXPECT_EQ(LogFileName("/var/log/t", "stats", kStampSeconds),
            "/var/log/t/stats061205_140307.txt");
  EXPECT_EQ(LogFileName("/var/log/t/", "trace", kStampSeconds),
            "/var/log/t/trace061205_140307.txt");
  EXPECT_EQ(LogFileName("", "stats", kStampSeconds), "stats061205_140307.txt");
}

struct DueCase {
  const char* name;
  int sent, received, idle, force;
  bool written;
};

class LogWriterDue : public LogWriter, public ::testing::WithParamInterface<DueCase> {};

TEST_P(LogWriterDue, WritesConversationOnlyWhenDue) {
  const DueCase& c = GetParam();
  CConversation& conv = Exchange(80, c.sent, c.received, kStampSeconds);
  const int64_t now = int64_t{kStampSeconds} + c.idle;
  WriteLogs(model_, c.force, 1, 0, 0, now);
  EXPECT_EQ(conv.statsLogged, c.written ? 1 : 0);
  const std::string expected =
      kStatsHeader + (c.written ? ConversationCsvRow(conv, kNoQuit) : std::string());
  EXPECT_EQ(ReadFileBytes(StatsName(now)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogWriterDue,
    ::testing::Values(DueCase{"OneWayIdle30", 2, 0, 30, 0, false},
                      DueCase{"OneWayIdle31", 2, 0, 31, 0, true},
                      DueCase{"BothWaysIdle5", 1, 1, 5, 0, false},
                      DueCase{"BothWaysIdle6", 1, 1, 6, 0, true},
                      DueCase{"ReceivedOnlyIdle6", 0, 2, 6, 0, false},
                      DueCase{"ForcedAtOnce", 1, 0, 0, 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogWriter, ClosedConversationIsDueAtOnce) {
  Exchange(80, 1, 1, kStampSeconds);
  CConversation& first = *model_.conversations.Conversations().front();
  Exchange(80, 1, 0, kStampSeconds);
  ASSERT_EQ(model_.conversations.Size(), 2u);
  ASSERT_EQ(first.closed, 1);
  WriteLogs(model_, 0, 1, 0, 0, kStampSeconds);
  EXPECT_EQ(LoggedIds(), std::vector<int>{first.convId});
}

TEST_F(LogWriter, OnlyTheNewestFortyMayWait) {
  for (uint16_t p = 0; p < 45; ++p) Exchange(static_cast<uint16_t>(1000 + p), 1, 0, kStampSeconds);
  WriteLogs(model_, 0, 1, 0, 0, kStampSeconds);
  EXPECT_EQ(LoggedIds(), (std::vector<int>{1, 2, 3, 4, 5}));
  std::string expected = kStatsHeader;
  for (std::size_t i = 0; i < 5; ++i) {
    expected += ConversationCsvRow(*model_.conversations.Conversations()[i], kNoQuit);
  }
  EXPECT_EQ(ReadFileBytes(StatsName(kStampSeconds)), expected);

  WriteLogs(model_, 1, 1, 0, 0, kStampSeconds + 1);
  EXPECT_EQ(LoggedIds().size(), 45u);
  const std::string file = ReadFileBytes(StatsName(kStampSeconds));
  EXPECT_EQ(file.find(kStatsHeader, 1), std::string::npos);
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 46);
}

TEST_F(LogWriter, StatsRowIsByteExact) {
  CConversation& c = Exchange(80, 1, 1, kStampSeconds, "He said \"hi\", ok\r\nnext");
  c.times[CConversation::kLastTime] = {kStampSeconds + 2, 500};
  WriteLogs(model_, 1, 1, 0, 0, kStampSeconds + 3);
  EXPECT_EQ(ReadFileBytes(StatsName(kStampSeconds + 3)),
            kStatsHeader +
                "\"2006-12-05\",\"14:03:07.000000\",\"1\",\"62\",\"62\",\"1\",\"1\","
                "\"2.000500\",\"He said \"\"hi\"\", ok\",\"He said \"\"hi\"\", ok\"\r\n");
}

TEST_F(LogWriter, TraceLogWritesEachRecentPacketOnce) {
  Exchange(80, 2, 1, kStampSeconds, "abc\0def");
  WriteLogs(model_, 0, 0, 1, 0, kStampSeconds);
  std::string expected;
  for (const CPacketRef& r : model_.recent) {
    EXPECT_EQ(r->traceLogged, 1);
    expected += RenderHeaderBlock(*r) + RenderDataText(*r, kNoQuit);
  }
  EXPECT_EQ(ReadFileBytes(TraceName(kStampSeconds)), expected);
  EXPECT_FALSE(FileExists(StatsName(kStampSeconds)));

  CPacketRef late = model_.Record(UdpFields(kDirReceived, 20), AsBytes(std::string(20, 'q')));
  WriteLogs(model_, 0, 0, 1, 1, kStampSeconds + 20);
  EXPECT_EQ(ReadFileBytes(TraceName(kStampSeconds)),
            expected + RenderHeaderBlock(*late) + RenderHexDump(*late, kNoQuit));
}

TEST_F(LogWriter, FinalPassAfterQuitStillWritesTheData) {
  Exchange(80, 1, 0, kStampSeconds, "payload");
  state_.quit = 1;
  WriteLogs(model_, 1, 1, 1, 0, kStampSeconds);
  const CPacketRef& r = model_.recent.front();
  EXPECT_EQ(ReadFileBytes(TraceName(kStampSeconds)), RenderHeaderBlock(*r) + "payload");
  EXPECT_NE(ReadFileBytes(StatsName(kStampSeconds)).find("\"payload\",\"\"\r\n"),
            std::string::npos);
}

TEST_F(LogWriter, FilesArePrivateAndResetStartsNewOnes) {
  Exchange(80, 1, 0, kStampSeconds);
  WriteLogs(model_, 1, 1, 1, 0, kStampSeconds);
  for (const std::string& name : {StatsName(kStampSeconds), TraceName(kStampSeconds)}) {
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
  const std::string oldStats = ReadFileBytes(StatsName(kStampSeconds));
  const std::string oldTrace = ReadFileBytes(TraceName(kStampSeconds));
  ResetLogFiles(model_);
  EXPECT_TRUE(model_.statsFileName.empty());
  EXPECT_TRUE(model_.traceFileName.empty());

  Exchange(81, 1, 0, kStampSeconds + 40);
  WriteLogs(model_, 1, 1, 1, 0, kStampSeconds + 40);
  EXPECT_EQ(model_.statsFileName, StatsName(kStampSeconds + 40));
  EXPECT_EQ(ReadFileBytes(StatsName(kStampSeconds)), oldStats);
  EXPECT_EQ(ReadFileBytes(TraceName(kStampSeconds)), oldTrace);
  const CConversation& second = *model_.conversations.Conversations().back();
  EXPECT_EQ(ReadFileBytes(StatsName(kStampSeconds + 40)),
            kStatsHeader + ConversationCsvRow(second, kNoQuit));
  const CPacketRef& r = model_.recent.back();
  EXPECT_EQ(ReadFileBytes(TraceName(kStampSeconds + 40)),
            RenderHeaderBlock(*r) + RenderDataText(*r, kNoQuit));
}

TEST_F(LogWriter, UnwritableDirectoryReportsItsFilesAndStopsLogging) {
  state_.logDir = dir_.File("missing");
  WriteLogs(model_, 0, 1, 1, 0, kStampSeconds);
  EXPECT_EQ(state_.notifications.TakeAll(),
            std::vector<std::string>{"Could not open file: " + model_.statsFileName});
  EXPECT_EQ(state_.logToFile, 0);

  state_.logToFile = 1;
  ResetLogFiles(model_);
  Exchange(80, 1, 0, kStampSeconds);
  WriteLogs(model_, 0, 1, 1, 0, kStampSeconds);
  EXPECT_EQ(state_.notifications.TakeAll(),
            (std::vector<std::string>{"Could not open file: " + model_.statsFileName,
                                      "Could not open file: " + model_.traceFileName}));
  EXPECT_EQ(model_.statsFileName, dir_.File("missing") + "/stats061205_140307.txt");
  EXPECT_EQ(state_.logToFile, 0);
  EXPECT_EQ(model_.recent.front()->traceLogged, 1);
  EXPECT_FALSE(LogPassDue(model_, kStampSeconds + 100));
}

TEST_F(LogWriter, SymlinkAtTheFileNameIsRefused) {
  const std::string target = dir_.File("victim");
  WriteFileBytes(target, "keep");
  ASSERT_EQ(symlink(target.c_str(), StatsName(kStampSeconds).c_str()), 0);
  Exchange(80, 1, 0, kStampSeconds);
  WriteLogs(model_, 1, 1, 1, 0, kStampSeconds);
  EXPECT_EQ(state_.notifications.TakeAll(),
            std::vector<std::string>{"Could not open file: " + StatsName(kStampSeconds)});
  EXPECT_EQ(ReadFileBytes(target), "keep");
  EXPECT_EQ(state_.logToFile, 0);
  EXPECT_FALSE(ReadFileBytes(TraceName(kStampSeconds)).empty());
}

TEST_F(LogWriter, FifoAtTheFileNameIsRefusedWithoutBlocking) {
  ASSERT_EQ(mkfifo(TraceName(kStampSeconds).c_str(), 0600), 0);
  Exchange(80, 1, 0, kStampSeconds);
  WriteLogs(model_, 1, 0, 1, 0, kStampSeconds);
  EXPECT_EQ(state_.notifications.TakeAll(),
            std::vector<std::string>{"Could not open file: " + TraceName(kStampSeconds)});
}

TEST_F(LogWriter, FullDiskTurnsLoggingOffAndTellsTheUserOnce) {
  const std::string small = dir_.File("small");
  std::string trace;
  {
    SmallTmpfs disk(small);
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
    state_.logDir = small;
    for (int i = 0; i < 60; ++i) {
      model_.Record(UdpFields(kDirReceived, 1400, {kStampSeconds, i}),
                    AsBytes(std::string(1400, 'f')));
    }
    WriteLogs(model_, 1, 1, 1, 0, kStampSeconds);
    trace = ReadFileBytes(model_.traceFileName);
  }
  EXPECT_EQ(state_.logToFile, 0);
  EXPECT_EQ(state_.notifications.TakeAll(),
            std::vector<std::string>{"Could not write file: " + model_.traceFileName});
  EXPECT_GT(trace.size(), 0u);
  for (const CPacketRef& r : model_.recent) EXPECT_EQ(r->traceLogged, 1);
}

TEST_F(LogWriter, NormalPassesAreMoreThanFifteenSecondsApart) {
  model_.lastFlushTime = kStampSeconds;
  state_.statsOption = 1;
  EXPECT_FALSE(LogPassDue(model_, kStampSeconds + 15));
  EXPECT_EQ(model_.lastFlushTime, kStampSeconds);
  state_.logToFile = 0;
  EXPECT_FALSE(LogPassDue(model_, kStampSeconds + 16));
  state_.logToFile = 1;
  WriteLogsIfDue(model_, kStampSeconds + 16);
  EXPECT_EQ(model_.lastFlushTime, kStampSeconds + 16);
  EXPECT_EQ(ReadFileBytes(StatsName(kStampSeconds + 16)), kStatsHeader);
  EXPECT_FALSE(FileExists(TraceName(kStampSeconds + 16)));
}

}  // namespace
