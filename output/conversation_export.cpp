#include "output/conversation_export.h"

#include <atomic>
#include <exception>
#include <new>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output/conversation_text.h"
#include "output/csv_row.h"
#include "output/output_file.h"

namespace {

constexpr const char* kExportHeader =
    "\"Date\",\"Time\",\"ConvId\",\"Bytes Sent\",\"Bytes Rcvd\",\"Pkts Sent\",\"Pkts Rcvd\","
    "\"Resp. Time\",\"Send\",\"Recieve\"\n";
constexpr const char* kWriteError = "Error writing out file";
constexpr const char* kNothingExported =
    "No items selected.\nSelect Items, or choose All Data for File Save Options.";

// One row's contribution; the empty string on success, else the error text.
std::string ExportRow(COutputFile& file, const CConversation& c, int direction, int format,
                      int rowNumber, const std::atomic<int>& quit) {
  if (rowNumber == 0 && format == kExportCsv && !file.Write(kExportHeader)) return kWriteError;
  std::string text;
  try {
    switch (format) {
      case kExportCsv:
        text = ConversationCsvRow(c, quit);
        break;
      case kExportText:
        text = RenderConversationText(c, direction, 1, 1, 0, quit);
        break;
      case kExportHex:
        text = RenderConversationText(c, direction, 1, 1, 1, quit);
        break;
      default:
        return {};
    }
  } catch (const std::bad_alloc&) {
    text = "Error retrieving data\r\n";
  }
  return file.Write(text) ? std::string() : std::string(kWriteError);
}

}  // namespace

std::vector<CExportRow> ConversationListRows(const CConversationTable& table) {
  std::vector<CExportRow> rows;
  rows.reserve(table.Size() * 2);
  for (const auto& c : table.Conversations()) {
    // The row that carries the response time stands first.
    const int first = c->hostRole == kRoleServer ? kDirReceived : kDirSent;
    const int second = first == kDirSent ? kDirReceived : kDirSent;
    for (int d : {first, second}) {
      const uint64_t packets = d == kDirSent ? c->packetsSent : c->packetsReceived;
      if (packets > 0) rows.push_back({c->convId, d});
    }
  }
  return rows;
}

CExportResult ExportConversations(CTrafficModel& model, const std::string& fileName, int format,
                                  const std::vector<CExportRow>& rows) {
  CExportResult result;
  COutputFile file;
  if (!file.Open(fileName, COutputFile::Mode::kTruncate)) {
    result.messages.push_back("Error opening file: " + fileName);
    return result;
  }
  result.opened = true;
  const std::atomic<int>& quit = model.State().quit;
  int previous = 0;  // ConvIds start at 1
  for (const CExportRow& row : rows) {
    const int convId = row.convId;
    const bool repeat = convId == previous;
    previous = convId;
    if (format == kExportCsv && repeat) continue;
    // Rows name conversations by id: one trimmed or cleared since the list
    // was filled is gone and is left out.
    const CConversation* c = model.conversations.FindById(convId);
    if (c == nullptr) continue;
    const int direction = row.direction == kDirReceived ? kDirReceived : kDirSent;
    try {
      const std::string error = ExportRow(file, *c, direction, format, result.rowsWritten, quit);
      result.rowsWritten += 1;
      if (!error.empty()) result.messages.push_back(error);
    } catch (const std::exception&) {
      // The row is left out; the others still go.
    }
  }
  file.Close();
  if (result.rowsWritten < 1) {
    result.messages.push_back(kNothingExported);
  } else {
    result.messages.push_back(fileName + " saved.");
  }
  return result;
}
