#include "output/csv_row.h"

#include <cstdio>

#include <gtest/gtest.h>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output_test_support.h"

namespace {

TEST(CsvRow, FieldsAreQuotedWithInnerQuotesDoubled) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""},
      {"a,b", "\"a,b\""},
      {"\"", "\"\"\"\""},
      {"say \"x\"", "\"say \"\"x\"\"\""},
      {"\t\x1b\xe9", "\"\t\x1b\xe9\""}};
  for (const auto& [field, quoted] : cases) {
    std::string out;
    AppendCsvField(out, field);
    EXPECT_EQ(out, quoted);
  }
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  for (unsigned char b : bytes) {
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}

// A reader that knows nothing of this program gets the data bytes back.
TEST(CsvRow, PythonCsvReadsTheSummaryBackUnchanged) {
  ScopedTimeZone zone("UTC");
  const std::string payload = "GET /\"q\",x=1 \xe9\xff;'\t end\r\nHost";
  CAppState state;
  state.Model().Record(TcpFields(kDirSent, 1, static_cast<int>(payload.size()),
                                 {kStampSeconds, 0}),
                       AsBytes(payload));
  const CConversation& c = *state.Model().conversations.Conversations().front();
  const std::string row = ConversationCsvRow(c, kNoQuit);

  TempDir dir;
  const std::string file = dir.File("row.csv");
  WriteFileBytes(file, row);
  const std::string command =
      "python3 -c \"import csv,sys; r=next(csv.reader(open(sys.argv[1], newline='', "
      "encoding='latin-1'))); print(len(r), r[2], r[7], r[8].encode('latin-1').hex(), "
      "repr(r[9]))\" " + file + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[512] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, p);
  const int status = pclose(p);
  if (status != 0 && n == 0) GTEST_SKIP() << "python3 is not available";
  EXPECT_EQ(std::string(buf, n),
            "10 1 0.000000 " + Hex("GET /\"q\",x=1 \xe9\xff;'\t end") + " ''\n");
}

}  // namespace
