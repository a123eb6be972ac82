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
constexpr const char* kNothingExported =
    "No items selected.\nSelect Items, or choose All Data for File Save Options.";

// Writes one row's contribution; false when the file refused it.
bool ExportRow(COutputFile& file, const CConversationCopy& row, EExportForm form, int rowNumber,
               const CCancelToken& cancel) {
  if (rowNumber == 0 && form == EExportForm::kCsv && !file.Write(kExportHeader)) return false;
  std::string text;
  try {
    if (form == EExportForm::kCsv) {
      text = ConversationCsvRow(row.snapshot);
    } else {
      text = RenderConversationText(row.records, {true, true, form == EExportForm::kHex}, cancel);
    }
  } catch (const std::bad_alloc&) {
    text = "Error retrieving data\r\n";
  }
  return file.Write(text);
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
  auto fail = [&](const char* what) {
    result.messages = {what + fileName + ": " + file.Reason()};
    result.failed = true;
    return result;
  };
  if (!file.Open(fileName, COutputFile::Mode::kReplace)) return fail("Error opening file: ");
  int previous = 0;  // ConvIds start at 1
  for (const CConversationCopy& row : rows) {
    const int convId = row.snapshot.convId;
    const bool repeat = convId == previous;
    previous = convId;
    if (form == EExportForm::kCsv && repeat) continue;
    bool written = true;
    try {
      written = ExportRow(file, row, form, result.rowsWritten, cancel);
      result.rowsWritten += 1;
    } catch (const std::exception&) {
      // The row is left out; the others still go.
    }
    // Once the disk is full every later row fails the same way: one word,
    // and no file cut mid-row.
    if (!written) return fail("Error writing out file: ");
  }
  if (!file.Commit()) return fail("Error writing out file: ");
  if (result.rowsWritten < 1) {
    result.messages.push_back(kNothingExported);
  } else {
    result.messages.push_back(fileName + " saved.");
  }
  return result;
}
