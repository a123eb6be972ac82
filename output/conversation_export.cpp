#include "output/conversation_export.h"

#include <exception>
#include <new>

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
std::string ExportRow(COutputFile& file, const CConversationCopy& row, EExportForm form,
                      int rowNumber, const CCancelToken& cancel) {
  if (rowNumber == 0 && form == EExportForm::kCsv && !file.Write(kExportHeader)) return kWriteError;
  std::string text;
  try {
    if (form == EExportForm::kCsv) {
      text = ConversationCsvRow(row.snapshot);
    } else {
      text = RenderConversationText(row.records, {true, true, form == EExportForm::kHex, {}}, cancel);
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
    const EDirection first = OpeningDirection(c->hostRole);
    const EDirection second = first == EDirection::kSent ? EDirection::kReceived : EDirection::kSent;
    for (EDirection d : {first, second}) {
      const uint64_t packets = d == EDirection::kSent ? c->packetsSent : c->packetsReceived;
      if (packets > 0) rows.push_back({c->convId, d});
    }
  }
  return rows;
}

bool CopyConversationRow(const CConversationTable& table, const CExportRow& row,
                         CConversationCopy& copy) {
  // Rows name conversations by id: one trimmed or cleared since the list
  // was filled is gone.
  const CConversation* c = table.FindById(row.convId);
  if (c == nullptr) return false;
  copy.snapshot = c->Snapshot();
  copy.direction = row.direction == EDirection::kReceived ? EDirection::kReceived : EDirection::kSent;
  const auto& list = copy.direction == EDirection::kSent ? c->sent : c->received;
  copy.records.assign(list.begin(), list.end());
  return true;
}

CExportResult ExportConversations(const std::string& fileName, EExportForm form,
                                  const std::vector<CConversationCopy>& rows,
                                  const CCancelToken& cancel) {
  CExportResult result;
  COutputFile file;
  if (!file.Open(fileName, COutputFile::Mode::kTruncate)) {
    result.messages.push_back("Error opening file: " + fileName);
    return result;
  }
  result.opened = true;
  int previous = 0;  // ConvIds start at 1
  for (const CConversationCopy& row : rows) {
    const int convId = row.snapshot.convId;
    const bool repeat = convId == previous;
    previous = convId;
    if (form == EExportForm::kCsv && repeat) continue;
    try {
      const std::string error = ExportRow(file, row, form, result.rowsWritten, cancel);
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
