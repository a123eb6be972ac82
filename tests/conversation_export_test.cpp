#include "output/conversation_export.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output/conversation_text.h"
#include "output/csv_row.h"
#include "output_test_support.h"

namespace {

const std::string kExportHeader =
    "\"Date\",\"Time\",\"ConvId\",\"Bytes Sent\",\"Bytes Rcvd\",\"Pkts Sent\",\"Pkts Rcvd\","
    "\"Resp. Time\",\"Send\",\"Recieve\"\n";
const std::string kNothing =
    "No items selected.\nSelect Items, or choose All Data for File Save Options.";

class Export : public ::testing::Test {
 protected:
  Export() {
    for (uint16_t port = 80; port < 83; ++port) {
      const std::string request = "request " + std::to_string(port);
      const std::string answer = "answer \"" + std::to_string(port) + "\"";
      model_.Record(TcpFields(kDirSent, 1, static_cast<int>(request.size()),
                              {kStampSeconds, 0}, CIpAddr(10, 0, 5, 5), port),
                    AsBytes(request));
      model_.Record(TcpFields(kDirReceived, 1, static_cast<int>(answer.size()),
                              {kStampSeconds, 250}, CIpAddr(10, 0, 5, 5), port),
                    AsBytes(answer));
    }
  }

  const CConversation& Conv(int id) { return *model_.conversations.FindById(id); }
  std::string Csv(int id) { return ConversationCsvRow(Conv(id), kNoQuit); }
  std::string Text(int id, int direction, int hex) {
    return RenderConversationText(Conv(id), direction, 1, 1, hex, kNoQuit);
  }

  ScopedTimeZone zone_{"UTC"};
  TempDir dir_;
  CAppState state_;
  CTrafficModel& model_ = state_.Model();
  const std::string file_ = dir_.File("out.txt");
};

TEST_F(Export, ListRowsPutTheResponseRowFirst) {
  state_.hostRole = kRoleServer;
  model_.Record(TcpFields(kDirReceived, 1, 3, {kStampSeconds, 0}, CIpAddr(10, 0, 5, 6)),
                AsBytes("req"));
  model_.Record(TcpFields(kDirSent, 1, 3, {kStampSeconds, 9}, CIpAddr(10, 0, 5, 6)),
                AsBytes("ans"));
  model_.Record(TcpFields(kDirReceived, 1, 3, {kStampSeconds, 0}, CIpAddr(10, 0, 5, 7)),
                AsBytes("one"));
  const std::vector<CExportRow> rows = ConversationListRows(model_.conversations);
  std::vector<std::pair<int, int>> got;
  for (const CExportRow& r : rows) got.emplace_back(r.convId, r.direction);
  EXPECT_EQ(got, (std::vector<std::pair<int, int>>{
                     {1, 1}, {1, 2}, {2, 1}, {2, 2}, {3, 1}, {3, 2}, {4, 2}, {4, 1}, {5, 2}}));
}

TEST_F(Export, RowsAsCsvGiveOneRowPerConversation) {
  CExportResult r =
      ExportConversations(model_, file_, kExportCsv, ConversationListRows(model_.conversations));
  EXPECT_EQ(r.messages, std::vector<std::string>{file_ + " saved."});
  EXPECT_EQ(r.rowsWritten, 3);
  EXPECT_EQ(ReadFileBytes(file_), kExportHeader + Csv(1) + Csv(2) + Csv(3));
  EXPECT_EQ(Csv(2),
            "\"2006-12-05\",\"14:03:07.000000\",\"2\",\"50\",\"51\",\"1\",\"1\",\"0.000250\","
            "\"request 81\",\"answer \"\"81\"\"\"\r\n");
  r = ExportConversations(model_, file_, kExportCsv, {{2, kDirReceived}});
  EXPECT_EQ(ReadFileBytes(file_), kExportHeader + Csv(2));
}

TEST_F(Export, TextAndHexFollowTheRowsWithNothingBetween) {
  for (int format : {kExportText, kExportHex}) {
    const int hex = format == kExportHex ? 1 : 0;
    const CExportResult r =
        ExportConversations(model_, file_, format, {{1, kDirSent}, {1, kDirReceived}, {3, 2}});
    EXPECT_EQ(r.rowsWritten, 3);
    const std::string content = ReadFileBytes(file_);
    EXPECT_EQ(content, Text(1, 1, hex) + Text(1, 2, hex) + Text(3, 2, hex)) << format;
    EXPECT_EQ(content.substr(0, 4 + 77), "\r\n\r\n" + std::string(77, '='));
  }
}

TEST_F(Export, NoRowsOrGoneRowsLeaveAnEmptyFile) {
  CExportResult r = ExportConversations(model_, file_, kExportText, {});
  EXPECT_EQ(r.messages, std::vector<std::string>{kNothing});
  EXPECT_TRUE(r.opened);
  EXPECT_TRUE(FileExists(file_));
  EXPECT_EQ(ReadFileBytes(file_), "");

  const std::vector<CExportRow> rows = {{2, kDirSent}, {99, kDirSent}, {3, kDirSent}};
  r = ExportConversations(model_, file_, kExportCsv, rows);
  EXPECT_EQ(ReadFileBytes(file_), kExportHeader + Csv(2) + Csv(3));
  EXPECT_EQ(r.rowsWritten, 2);
  model_.conversations.Clear();
  r = ExportConversations(model_, file_, kExportText, rows);
  EXPECT_EQ(r.messages, std::vector<std::string>{kNothing});
  EXPECT_EQ(ReadFileBytes(file_), "");
}

TEST_F(Export, ExistingFileIsOverwrittenAndStaysPrivate) {
  WriteFileBytes(file_, std::string(100000, 'o'));
  chmod(file_.c_str(), 0600);
  ExportConversations(model_, file_, kExportCsv, {{1, kDirSent}});
  EXPECT_EQ(ReadFileBytes(file_), kExportHeader + Csv(1));

  const std::string fresh = dir_.File("fresh.csv");
  ExportConversations(model_, fresh, kExportCsv, {{1, kDirSent}});
  struct stat st {};
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Export, SymlinkAtTheNameIsRefused) {
  const std::string target = dir_.File("victim");
  WriteFileBytes(target, "keep");
  ASSERT_EQ(symlink(target.c_str(), file_.c_str()), 0);
  const CExportResult r = ExportConversations(model_, file_, kExportCsv, {{1, kDirSent}});
  EXPECT_FALSE(r.opened);
  EXPECT_EQ(r.messages, std::vector<std::string>{"Error opening file: " + file_});
  EXPECT_EQ(ReadFileBytes(target), "keep");
}

TEST_F(Export, FullDiskReportsEachFailedRowAndGoesOn) {
  SmallTmpfs disk(dir_.File("small"));
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  const std::string payload(1400, 'e');
  for (uint32_t i = 0; i < 30; ++i) {
    model_.Record(TcpFields(kDirSent, 1 + i * 1400, 1400, {kStampSeconds, 0},
                            CIpAddr(10, 0, 7, 7)),
                  AsBytes(payload));
  }
  const int big = model_.conversations.Conversations().back()->convId;
  const std::string name = dir_.File("small") + "/out.txt";
  const CExportResult r =
      ExportConversations(model_, name, kExportHex, {{big, 1}, {big, 1}, {1, 1}});
  EXPECT_EQ(r.rowsWritten, 3);
  EXPECT_EQ(r.messages, (std::vector<std::string>{"Error writing out file",
                                                  "Error writing out file",
                                                  "Error writing out file", name + " saved."}));
}

}  // namespace
