#include "cli/headless_report.h"

#include <gtest/gtest.h>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output_test_support.h"

using namespace std::string_literals;

namespace {

// Two requests to 10.0.5.5:80 on the same ports (two conversations) and a
// DNS answer from 10.0.9.9.
class HeadlessReport : public testing::Test {
 protected:
  HeadlessReport() {
    CTrafficModel& m = state.Model();
    m.Record(TcpFields(kDirSent, 100, 10, {3600, 500}), AsBytes("GET \"a\",b\r\n"));
    const std::string answer = "HTTP/1.1 200\x1b[2J" + std::string(44, 'z');
    m.Record(TcpFields(kDirReceived, 900, 60, {3600, 900000}), AsBytes(answer));
    m.Record(TcpFields(kDirReceived, 960, 40, {3601, 100}), AsBytes(std::string(40, 'y')));
    m.Record(TcpFields(kDirSent, 110, 5, {3602, 0}), AsBytes("next\n"));
    m.Record(UdpFields(kDirReceived, 20, {3605, 42}, CIpAddr(10, 0, 9, 9)),
             AsBytes(std::string(20, 'd')));
  }

  ScopedTimeZone zone_{"UTC"};
  CAppState state;
};

TEST_F(HeadlessReport, ConversationTableFollowsThePageRows) {
  const std::string text = ConversationSummaryTable(state.Model().conversations, state.quit).Render();
  const std::string expected =
      "Remote IP/Port  Port   ID  Prot  Bytes  Pkts  Rsp. Tm   Start            End              Text\n"
      "--------------  -----  --  ----  -----  ----  --------  ---------------  ---------------  "s +
      std::string(60, '-') + "\n" +
      "10.0.5.5:80     40000   1   TCP     50     1  0.999600  01:00:00.000500  01:00:00.000500  GET \"a\",b\n"
      "10.0.5.5:80     40000   1   TCP    180     2            01:00:00.900000  01:00:01.000100  HTTP/1.1 200.[2Jzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz\n"
      "10.0.5.5:80     40000   2   TCP     45     1  0.000000  01:00:02.000000  01:00:02.000000  next\n"
      "10.0.9.9:53     5353    3   UDP     48     1            01:00:05.000042  01:00:05.000042  dddddddddddddddddddd\n";
  EXPECT_EQ(text, expected);
}

TEST_F(HeadlessReport, HostTableAndCsv) {
  const CHostTable& hosts = state.Model().hosts;
  EXPECT_EQ(HostSummaryTable(hosts).Render(),
            "IP        Sent  Rcvd  Pk. Sent  Pk. Rcvd        Last Time\n"
            "--------  ----  ----  --------  --------  ---------------\n"
            "10.0.5.5    95   180         2         2  01:00:02.000000\n"
            "10.0.9.9     0    48         0         1  01:00:05.000042\n");
  EXPECT_EQ(HostCsv(hosts),
            "\"IP\",\"Sent\",\"Rcvd\",\"Pk. Sent\",\"Pk. Rcvd\",\"Last Time\",\"Ports\"\r\n"
            "\"10.0.5.5\",\"95\",\"180\",\"2\",\"2\",\"01:00:02.000000\",\"1\"\r\n"
            "\"10.0.9.9\",\"0\",\"48\",\"0\",\"1\",\"01:00:05.000042\",\"1\"\r\n");
}

TEST_F(HeadlessReport, SummaryCountsDropsOnlyWhenLive) {
  CRunCounts counts{257, 5, false, 0};
  std::string text = RenderSummary(counts, state.Model(), state.quit);
  EXPECT_EQ(text.rfind("Frames read: 257\nFrames recorded: 5\n\nConversations (3, 4 rows)\n", 0), 0u)
      << text;
  EXPECT_NE(text.find("\nHosts (2)\nIP "), std::string::npos);
  EXPECT_EQ(text.find("Kernel drops"), std::string::npos);
  counts.live = true;
  counts.kernelDrops = 7;
  text = RenderSummary(counts, state.Model(), state.quit);
  EXPECT_NE(text.find("Frames recorded: 5\nKernel drops: 7\n"), std::string::npos);
}

TEST_F(HeadlessReport, HostCsvFileIsPrivateAndNeverFollowsALink) {
  TempDir dir;
  const std::string name = dir.File("hosts.csv"), target = dir.File("target"),
                    link = dir.File("link.csv");
  std::string error;
  ASSERT_TRUE(WriteHostCsv(state.Model().hosts, name, error)) << error;
  struct stat st {};
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadFileBytes(name), HostCsv(state.Model().hosts));

  WriteFileBytes(target, "keep");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_FALSE(WriteHostCsv(state.Model().hosts, link, error));
  EXPECT_EQ(error, "Error opening file: " + link);
  EXPECT_EQ(ReadFileBytes(target), "keep");
}

TEST(TextTable, PadsTrimsAndHandlesEmptyTables) {
  CTextTable t;
  t.AddColumn("A", CTextTable::EAlign::kRight);
  t.AddColumn("Name", CTextTable::EAlign::kLeft);
  t.AddColumn("Z", CTextTable::EAlign::kLeft);
  EXPECT_EQ(t.Render(), "A  Name  Z\n-  ----  -\n");
  t.AddRow({"100", "x"});
  t.AddRow({"7", "", "", "ignored"});
  EXPECT_EQ(t.Render(),
            "  A  Name  Z\n"
            "---  ----  -\n"
            "100  x\n"
            "  7\n");
}

TEST(TextTable, PrintableCellHidesControlAndEightBitBytes) {
  EXPECT_EQ(PrintableCell(std::string("a\tb\x1b[0m\x7f\x80\xff~ ", 12)), "a.b.[0m...~ ");
}

}  // namespace
