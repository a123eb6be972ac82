#include "cli/headless_report.h"

#include <cinttypes>
#include <cstdio>
#include <initializer_list>

#include "model/traffic_model.h"
#include "output/conversation_export.h"
#include "output/packet_text.h"
#include "output/csv_row.h"
#include "output/output_file.h"
#include "output/value_format.h"

namespace {

std::string Decimal(uint64_t value) {
  char text[32];
  // The lists have always shown the 64-bit counters signed.
  std::snprintf(text, sizeof text, "%" PRId64, static_cast<int64_t>(value));
  return text;
}

std::string Unsigned(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIu64, value);
  return text;
}

std::string Decimal(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return text;
}

struct CColumnSpec {
  const char* header;
  CTextTable::EAlign align;
};

CTextTable TableWithColumns(std::initializer_list<CColumnSpec> columns) {
  CTextTable out;
  for (const CColumnSpec& column : columns) out.AddColumn(column.header, column.align);
  return out;
}

}  // namespace

CTextTable ConversationSummaryTable(const std::vector<CConversationRowData>& rows) {
  using A = CTextTable::EAlign;
  using T = CConversationSnapshot;
  CTextTable out = TableWithColumns({
      {"Remote IP/Port", A::kLeft},
      {"Name", A::kLeft},
      {"Port", A::kLeft},
      {"Process", A::kLeft},
      {"ID", A::kRight},
      {"Prot", A::kRight},
      {"Bytes", A::kRight},
      {"Pkts", A::kRight},
      {"Rsp. Tm", A::kLeft},
      {"Start", A::kLeft},
      {"End", A::kLeft},
      {"Text", A::kLeft},
  });
  for (const CConversationRowData& d : rows) {
    const CConversationSnapshot& c = d.conversation;
    const EDirection direction = d.row.direction;
    const bool sent = direction == EDirection::kSent;
    // The direction that opens an exchange for the role carries the response
    // time and the first two times; the other shows the reply's times.
    const bool opening = direction == OpeningDirection(c.role);
    const std::size_t k = opening ? T::kFirstTime : T::kReplyStartTime;
    out.AddRow({
        FormatEndpoint(c.remote, c.remotePort),
        d.name,
        Decimal(static_cast<int>(c.localPort)),
        c.process.Text(),
        Decimal(c.convId),
        ProtocolName(c.protocol),
        Decimal(sent ? c.bytesSent : c.bytesReceived),
        Decimal(sent ? c.packetsSent : c.packetsReceived),
        opening ? FormatElapsed(c.times[T::kLastTime], c.times[T::kFirstTime]) : std::string(),
        FormatClockTime(c.times[k]),
        FormatClockTime(c.times[k + 1]),
        PrintableCell(RenderDataSummary(sent ? c.sentStart : c.receivedStart)),
    });
  }
  return out;
}

CTextTable HostSummaryTable(const std::vector<CHostSummary>& hosts) {
  using A = CTextTable::EAlign;
  CTextTable out = TableWithColumns({
      {"IP", A::kLeft},
      {"Name", A::kLeft},
      {"Sent", A::kRight},
      {"Rcvd", A::kRight},
      {"Pk. Sent", A::kRight},
      {"Pk. Rcvd", A::kRight},
      {"Last Time", A::kRight},
  });
  for (const CHostSummary& h : hosts) {
    out.AddRow({
        FormatAddress(h.address),
        h.name,
        FormatByteCount(static_cast<int64_t>(h.bytesSent)),
        FormatByteCount(static_cast<int64_t>(h.bytesReceived)),
        FormatShortCount(static_cast<int64_t>(h.packetsSent)),
        FormatShortCount(static_cast<int64_t>(h.packetsReceived)),
        FormatClockTime(h.lastTime),
    });
  }
  return out;
}

CTextTable ProcessSummaryTable(const std::vector<CProcessSummary>& processes) {
  using A = CTextTable::EAlign;
  CTextTable out = TableWithColumns({
      {"Process", A::kLeft},
      {"PIDs", A::kRight},
      {"Sent", A::kRight},
      {"Rcvd", A::kRight},
      {"Pk. Sent", A::kRight},
      {"Pk. Rcvd", A::kRight},
  });
  for (const CProcessSummary& p : processes) {
    out.AddRow({
        p.name,
        Decimal(static_cast<uint64_t>(p.pids.size())),
        FormatByteCount(static_cast<int64_t>(p.bytesSent)),
        FormatByteCount(static_cast<int64_t>(p.bytesReceived)),
        FormatShortCount(static_cast<int64_t>(p.packetsSent)),
        FormatShortCount(static_cast<int64_t>(p.packetsReceived)),
    });
  }
  return out;
}

std::string RenderSummary(const CRunCounts& counts, const std::vector<CConversationRowData>& rows,
                          const std::vector<CHostSummary>& hosts,
                          const std::vector<CProcessSummary>& processes, const std::string& processNote) {
  std::string out;
  out += "Frames read: " + Decimal(counts.framesRead) + "\n";
  out += "Frames recorded: " + Decimal(counts.framesRecorded) + "\n";
  if (counts.live) out += "Kernel drops: " + Decimal(counts.kernelDrops) + "\n";
  if (counts.flowExport) {
    out += "Flow records sent: " + Decimal(counts.flowsSent) +
           ", lost: " + Decimal(counts.flowsLost) + "\n";
  }
  if (counts.frameSaving) {
    out += "Frames saved: " + Decimal(counts.framesSaved) +
           ", not saved: " + Decimal(counts.framesNotSaved) + "\n";
  }
  out += "Payload held: " + Unsigned(counts.payload.held) + " bytes\n";
  out += "Payload released: " + Unsigned(counts.payload.released) + " bytes\n";
  if (counts.payload.notStored > 0) out += "Packets not stored: " + Unsigned(counts.payload.notStored) + "\n";
  // Without rules every packet passes and there is nothing to count.
  const std::span<const CFilterRule> rules = counts.rules.rules.Rules();
  if (!rules.empty()) out += "Filter: " + counts.rules.SummaryText() + "\n";
  for (std::size_t i = 0; i < rules.size() && i < counts.rules.hits.size(); ++i) {
    out += "  " + rules[i].ToText() + ": " + counts.rules.hits[i].Text() + "\n";
  }
  // Every conversation has a row: its rows stand together.
  uint64_t conversations = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i == 0 || rows[i].row.convId != rows[i - 1].row.convId) ++conversations;
  }
  out += "\nConversations (" + Decimal(conversations) + ", " +
         Decimal(static_cast<uint64_t>(rows.size())) + " rows)\n";
  out += ConversationSummaryTable(rows).Render();
  out += "\nHosts (" + Decimal(static_cast<uint64_t>(hosts.size())) + ")\n";
  out += HostSummaryTable(hosts).Render();
  if (counts.live) {
    out += "\nProcesses (" + Decimal(static_cast<uint64_t>(processes.size())) + ")\n";
    out += ProcessSummaryTable(processes).Render();
  }
  if (!processNote.empty()) out += "\n" + processNote + "\n";
  return out;
}

std::string HostCsv(const CHostTable& hosts) {
  std::string out = "\"IP\",\"Sent\",\"Rcvd\",\"Pk. Sent\",\"Pk. Rcvd\",\"Last Time\",\"Ports\"\r\n";
  for (const CHostRecord& h : hosts.Hosts()) {
    AppendCsvField(out, FormatAddress(h.address));
    for (uint64_t v : {h.bytesSent, h.bytesReceived, h.packetsSent, h.packetsReceived}) {
      out += ',';
      AppendCsvField(out, Unsigned(v));
    }
    out += ',';
    AppendCsvField(out, FormatClockTime(h.lastTime));
    out += ',';
    AppendCsvField(out, Unsigned(h.ports.size()));
    out += "\r\n";
  }
  return out;
}

bool WriteHostCsv(const CHostTable& hosts, const std::string& fileName, std::string& error) {
  return WriteWholeFile(HostCsv(hosts), fileName, error);
}

bool WriteWholeFile(const std::string& text, const std::string& fileName, std::string& error) {
  COutputFile file;
  if (!file.Open(fileName, COutputFile::Mode::kReplace)) {
    error = "Error opening file: " + fileName + ": " + file.Reason();
    return false;
  }
  if (!file.Write(text) || !file.Commit()) {
    error = "Error writing out file: " + fileName + ": " + file.Reason();
    return false;
  }
  return true;
}
