#pragma once
#include <string>
#include <vector>

#include "model/cancel_token.h"
#include "model/conversation_snapshot.h"
#include "model/conversation_table.h"

// Writes conversations to a file chosen by the user: CSV statistics, or each
// row's packet texts with data as text or hex. The dialog that asks for the
// options lives in the user interface; this is the part that writes.

// The forms of the Save File Options dialog.
enum class EExportForm : uint8_t { kCsv = 0, kText = 1, kHex = 2 };

// One row of the Conversations list: a conversation and one direction of it.
struct CExportRow {
  int convId = 0;
  EDirection direction = EDirection::kSent;

  friend bool operator==(const CExportRow&, const CExportRow&) = default;
};

// One direction of one conversation as it was when copied under the traffic
// lock: its values and its records of that direction, which may then be
// rendered without the lock.
struct CConversationCopy {
  CConversationSnapshot snapshot;
  EDirection direction = EDirection::kSent;
  std::vector<CPacketRef> records;
};

struct CExportResult {
  // Texts for the user, each shown in its own message box: the outcome
  // ("<name> saved." or the nothing-selected text), or the one failure
  // ("Error opening file: <name>: <reason>", "Error writing out file:
  // <name>: <reason>").
  std::vector<std::string> messages;
  int rowsWritten = 0;
  // The file could not be made, written or put in place; whatever stood
  // at the name before is still there, and nothing else is.
  bool failed = false;
};

// The rows of the Conversations list in display order: each conversation in
// table order as up to two rows, the row carrying the response time first
// (received first for a Server conversation, sent first for a Client one), a
// direction only when it has packets. Caller holds the traffic lock.
std::vector<CExportRow> ConversationListRows(const CConversationTable& table);

// The copy of `row`, or nothing when its conversation is gone. Caller holds
// the traffic lock.
bool CopyConversationRow(const CConversationTable& table, const CExportRow& row,
                         CConversationCopy& copy);

// Writes `rows` in `form` to a new private file that replaces `fileName`
// once it is whole (COutputFile::Mode::kReplace): a failed export leaves no
// part of itself behind. Two adjacent rows of one conversation give one CSV
// row. No lock needed: the rows are copies.
CExportResult ExportConversations(const std::string& fileName, EExportForm form,
                                  const std::vector<CConversationCopy>& rows,
                                  const CCancelToken& cancel);
