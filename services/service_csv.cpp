#include "services/service_csv.h"

#include <cinttypes>
#include <cstdio>

#include "output/csv_row.h"
#include "output/value_format.h"

namespace {

void AppendNumber(std::string& line, uint64_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIu64, n);
  AppendCsvField(line, text);
}

void AppendTimes(std::string& line, const std::optional<CLatencySummary>& times) {
  for (const double v : {times ? times->p50 : 0, times ? times->p90 : 0, times ? times->p99 : 0,
                         times ? times->max : 0}) {
    line += ',';
    char text[32] = "";
    if (times) std::snprintf(text, sizeof text, "%.6f", v);
    AppendCsvField(line, text);
  }
}

}  // namespace

std::string ServiceCsvHeader() {
  static const char* const kNames[] = {
      "role",          "proto",        "remote",       "remote_port",  "local",
      "local_port",    "exchanges",    "unanswered",   "ttfa_p50",     "ttfa_p90",
      "ttfa_p99",      "ttfa_max",     "exchange_p50", "exchange_p90", "exchange_p99",
      "exchange_max",  "bytes_sent",   "bytes_rcvd"};
  std::string line;
  for (const char* name : kNames) {
    if (!line.empty()) line += ',';
    AppendCsvField(line, name);
  }
  return line + '\n';
}

std::string ServiceCsvRow(const CServiceRow& row) {
  const CServiceKey& key = row.key;
  const bool client = key.role == EHostRole::kClient;
  std::string line;
  line.reserve(200);
  AppendCsvField(line, client ? "client" : "server");
  line += ',';
  const std::string proto = ProtocolName(key.protocol);
  AppendCsvField(line, proto.empty() ? std::to_string(key.protocol) : proto);
  const std::string address = FormatAddress(key.address);
  const std::string port = std::to_string(key.port);
  for (const bool named : {client, !client}) {  // remote, then local
    line += ',';
    AppendCsvField(line, named ? address : "");
    line += ',';
    AppendCsvField(line, named ? port : "");
  }
  line += ',';
  AppendNumber(line, row.exchanges);
  line += ',';
  AppendNumber(line, row.unanswered);
  AppendTimes(line, row.firstAnswer);
  AppendTimes(line, row.exchangeTime);
  line += ',';
  AppendNumber(line, row.bytesSent);
  line += ',';
  AppendNumber(line, row.bytesReceived);
  return line + '\n';
}
