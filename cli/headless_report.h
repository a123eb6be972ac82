#pragma once
#include <cstdint>
#include <string>

#include <vector>

#include "cli/text_table.h"
#include "engine/capture_session.h"
#include "filters/filter_rule_report.h"
#include "model/host_table.h"

// What the headless program prints and writes at the end of a run: the
// summary with the Conversations and Host Stats lists as text tables (from
// the session's copies, names included), and the host table as CSV (which
// reads the model and requires the traffic lock).

struct CRunCounts {
  uint64_t framesRead = 0;      // frames the capture library delivered
  uint64_t framesRecorded = 0;  // packets that reached the traffic model
  bool live = false;
  uint64_t kernelDrops = 0;     // live only: frames the kernel dropped
  bool flowExport = false;      // --ipfix: the two flow counts below are shown
  uint64_t flowsSent = 0;
  uint64_t flowsLost = 0;       // dropped from the queue or never sent
  bool frameSaving = false;     // --write: the two frame counts below are shown
  uint64_t framesSaved = 0;
  uint64_t framesNotSaved = 0;
  CPayloadStats payload;        // the session's payload against the memory limit
  CFilterRuleReport rules;      // the filter in force with what each rule matched
};

// The Conversations list after a Refresh: the same columns, row order and
// cell texts as the page, with unprintable bytes of the "Text" column shown
// as ".".
CTextTable ConversationSummaryTable(const std::vector<CConversationRowData>& rows);

// The Host Stats list: one row per host in address order.
CTextTable HostSummaryTable(const std::vector<CHostSummary>& hosts);

// The programs of a live trace, one row per program name.
CTextTable ProcessSummaryTable(const std::vector<CProcessSummary>& processes);

// The counts, both tables under their titles, the programs' table (live
// traces) and what is missing of the program names, once. Lines end in LF.
std::string RenderSummary(const CRunCounts& counts, const std::vector<CConversationRowData>& rows,
                          const std::vector<CHostSummary>& hosts,
                          const std::vector<CProcessSummary>& processes, const std::string& processNote);

// The host table as CSV: the header line "IP","Sent","Rcvd","Pk. Sent",
// "Pk. Rcvd","Last Time","Ports", then one row per host in table order,
// every field quoted, counters in plain decimal, the last time through
// FormatClockTime and Ports the number of port records. Lines end in CR LF.
std::string HostCsv(const CHostTable& hosts);

// Writes HostCsv to a new private file that replaces `fileName` once it is
// whole. False, with `error` set (the name and the reason), when it cannot
// be made, written or put in place; the name is then left as it was.
bool WriteHostCsv(const CHostTable& hosts, const std::string& fileName, std::string& error);

// The same for any whole text, such as the service table's CSV.
bool WriteWholeFile(const std::string& text, const std::string& fileName, std::string& error);
