#pragma once
#include <string>
#include <vector>

#include "model/conversation_table.h"

class CTrafficModel;

// Writes conversations to a file chosen by the user: CSV statistics, or each
// row's packet texts with data as text or hex. The dialog that asks for the
// options lives in the user interface; this is the part that writes.

// Output format codes of the Save File Options dialog.
enum : int { kExportCsv = 0, kExportText = 1, kExportHex = 2 };

// One row of the Conversations list: a conversation and one direction of it
// (1 sent, 2 received).
struct CExportRow {
  int convId = 0;
  int direction = 1;
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

// Creates or truncates `fileName` (mode 0600, never through a symbolic link)
// and writes `rows` in `format`. Two adjacent rows of one conversation give
// one CSV row; rows whose conversation is gone are left out. Runs on the
// caller's thread with the traffic lock held.
CExportResult ExportConversations(CTrafficModel& model, const std::string& fileName, int format,
                                  const std::vector<CExportRow>& rows);
