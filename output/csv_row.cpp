#include "output/csv_row.h"

#include <cinttypes>
#include <cstdio>

#include "output/packet_text.h"
#include "output/value_format.h"

void AppendCsvField(std::string& out, std::string_view field) {
  out += '"';
  for (char ch : field) {
    if (ch == '"') out += '"';
    out += ch;
  }
  out += '"';
}

std::string ConversationCsvRow(const CConversationSnapshot& c) {
  const CTimeStamp first = c.times[CConversationSnapshot::kFirstTime];
  const CTimeStamp last = c.times[CConversationSnapshot::kLastTime];
  char number[32];
  std::string row;
  row.reserve(256);
  AppendCsvField(row, FormatDate(first.sec));
  row += ',';
  AppendCsvField(row, FormatClockTime(first));
  row += ',';
  std::snprintf(number, sizeof number, "%d", c.convId);
  AppendCsvField(row, number);
  // The counters are unsigned; the files have always shown them signed.
  for (uint64_t v : {c.bytesSent, c.bytesReceived, c.packetsSent, c.packetsReceived}) {
    row += ',';
    std::snprintf(number, sizeof number, "%" PRId64, static_cast<int64_t>(v));
    AppendCsvField(row, number);
  }
  row += ',';
  AppendCsvField(row, FormatElapsed(last, first));
  row += ',';
  AppendCsvField(row, RenderDataSummary(c.sentStart));
  row += ',';
  AppendCsvField(row, RenderDataSummary(c.receivedStart));
  row += "\r\n";
  return row;
}
