// The texts and files built from conversations: the CSV row, the list rows,
// the per-direction packet texts and the live text, and the export file.
#include "output/conversation_export.h"

#include <gtest/gtest.h>

#include "model/traffic_model.h"
#include "output/conversation_text.h"
#include "output/csv_row.h"
#include "output/packet_text.h"
#include "tests/test_support.h"

namespace {

constexpr int32_t kStamp = 1165327387;  // 2006-12-05 14:03:07 UTC
const CCancelToken kNoCancel;

class Export : public ::testing::Test {
 protected:
  Export() {
    for (uint16_t port = 80; port < 83; ++port) {
      const std::string request = "request " + std::to_string(port);
      const std::string answer = "answer \"" + std::to_string(port) + "\"";
      Add(TcpFields(kSent, 1, static_cast<int>(request.size()), {kStamp, 0}, CIpAddr(10, 0, 5, 5), port), request);
      Add(TcpFields(kReceived, 1, static_cast<int>(answer.size()), {kStamp, 250}, CIpAddr(10, 0, 5, 5), port), answer);
    }
  }

  CPacketRef Add(const CPacketFields& f, std::string_view payload, EHostRole role = EHostRole::kClient) {
    return model.Record(f, AsBytes(payload), {false, role});
  }

  std::vector<CConversationCopy> Copies(const std::vector<CExportRow>& rows) {
    std::vector<CConversationCopy> copies;
    for (const CExportRow& r : rows) {
      CConversationCopy c;
      if (CopyConversationRow(model.conversations, r, c)) copies.push_back(c);
    }
    return copies;
  }

  ScopedTimeZone zone{"UTC"};
  TempDir dir;
  CCancelToken cancel;
  CTrafficModel model{cancel};
  const std::string file = dir.File("out.txt");
};

TEST_F(Export, ListRowsPutTheResponseRowFirstAndSkipEmptyDirections) {
  Add(TcpFields(kReceived, 1, 4, {kStamp, 0}, CIpAddr(10, 0, 5, 9)), "srv!", EHostRole::kServer);
  const std::vector<CExportRow> rows = ConversationListRows(model.conversations);
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0], (CExportRow{1, kSent}));
  EXPECT_EQ(rows[1], (CExportRow{1, kReceived}));
  EXPECT_EQ(rows[6], (CExportRow{4, kReceived}));
}

TEST_F(Export, CsvGivesOneRowPerConversationAndTextOneBlockPerRow) {
  const auto rows = Copies({{1, kSent}, {1, kReceived}, {2, kSent}, {99, kSent}});
  ASSERT_EQ(rows.size(), 3u);  // ConvId 99 is gone
  ExportConversations(file, EExportForm::kCsv, rows, kNoCancel);
  EXPECT_EQ(ReadFileBytes(file),
            "\"Date\",\"Time\",\"ConvId\",\"Bytes Sent\",\"Bytes Rcvd\",\"Pkts Sent\",\"Pkts Rcvd\","
            "\"Resp. Time\",\"Send\",\"Recieve\"\n" +
                ConversationCsvRow(rows[0].snapshot) + ConversationCsvRow(rows[2].snapshot));
  EXPECT_EQ(ConversationCsvRow(rows[0].snapshot),
            "\"2006-12-05\",\"14:03:07.000000\",\"1\",\"50\",\"51\",\"1\",\"1\",\"0.000250\","
            "\"request 80\",\"answer \"\"80\"\"\"\r\n");
  const CExportResult r = ExportConversations(file, EExportForm::kHex, rows, kNoCancel);
  EXPECT_EQ(r.messages.back(), file + " saved.");
  EXPECT_EQ(ReadFileBytes(file), RenderConversationText(rows[0].records, {true, true, true}, kNoCancel) +
                                     RenderConversationText(rows[1].records, {true, true, true}, kNoCancel) +
                                     RenderConversationText(rows[2].records, {true, true, true}, kNoCancel));
  EXPECT_EQ(ExportConversations(file, EExportForm::kText, {}, kNoCancel).messages,
            std::vector<std::string>{
                "No items selected.\nSelect Items, or choose All Data for File Save Options."});
}

// A reader that knows nothing of this program gets the data bytes back.
TEST_F(Export, PythonCsvReadsTheSummaryBackUnchanged) {
  const std::string payload = "GET /\"q\",x=1 \xe9\xff;'\t end\r\nHost";
  Add(TcpFields(kSent, 1, static_cast<int>(payload.size()), {kStamp, 0}, CIpAddr(10, 0, 6, 6)), payload);
  ExportConversations(file, EExportForm::kCsv, Copies({{4, kSent}}), kNoCancel);
  WriteFileBytes(dir.File("want"), payload.substr(0, payload.find('\r')));
  EXPECT_TRUE(Shell("python3 -c \"import csv,sys; r=list(csv.reader(open(sys.argv[1], newline='', "
                    "encoding='latin-1')))[1]; sys.exit(r[8].encode('latin-1') != "
                    "open(sys.argv[2], 'rb').read())\" " + file + " " + dir.File("want")));
}

TEST_F(Export, ConversationTextStopsAfterThePacketThatPassesTwoMillion) {
  const std::string payload(60000, 'p');
  for (uint32_t i = 0; i < 40; ++i) Add(TcpFields(kSent, 1 + i * 60000, 60000, {kStamp, 0}, CIpAddr(10, 0, 7, 7)), payload);
  const auto copy = Copies({{4, kSent}}).at(0);
  const std::string text = RenderConversationText(copy.records, {}, kNoCancel);
  const std::size_t piece = RenderHeaderBlock(*copy.records[0]).size() + 60000;
  EXPECT_GT(text.size(), kConversationTextLimit);
  EXPECT_LT(text.size(), kConversationTextLimit + piece + 100);
  EXPECT_TRUE(text.ends_with(kMoreDataNotShown));
}

TEST_F(Export, RecentTextKeepsTheNewestPacketsOldestFirst) {
  std::vector<CPacketRef> recent;
  for (int i = 0; i < 90; ++i) recent.push_back(RecordWith(UdpFields(kSent, 1), std::string(20000, 'a'), 20000));
  const std::string text = RenderRecentPackets(recent, kNoCancel);
  const std::size_t piece = RenderHeaderBlock(*recent[0]).size() + 20000;
  EXPECT_EQ(text.size(), (kRecentTextLimit / piece + 1) * piece);
  recent.resize(2);
  recent[1] = RecordWith(UdpFields(kReceived, 3), "new", 3);
  EXPECT_TRUE(RenderRecentPackets(recent, kNoCancel).ends_with("new"));
}

}  // namespace
