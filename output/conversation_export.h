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
  // Texts for the user, each shown in its own message box, in order: any
  // per-row errors, then the outcome ("<name> saved." or the nothing-selected
  // text); only "Error opening file: <name>" when the file could not be made.
  std::vector<std::string> messages;
  int rowsWritten = 0;
  bool opened = false;
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

// Creates or truncates `fileName` (mode 0600, never through a symbolic link)
// and writes `rows` in `form`. Two adjacent rows of one conversation give one
// CSV row. No lock needed: the rows are copies.
CExportResult ExportConversations(const std::string& fileName, EExportForm form,
                                  const std::vector<CConversationCopy>& rows,
                                  const CCancelToken& cancel);
