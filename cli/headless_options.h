#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filters/filter_rule.h"
#include "flows/collector_address.h"
#include "model/traffic_types.h"
#include "output/conversation_export.h"
#include "wire/ip_address.h"

// The command line of `trafalyn --headless`, checked and parsed. Pure; any
// thread.
struct CHeadlessOptions {
  bool help = false;
  std::string device;            // -i: live trace
  std::string file;              // -r: replay
  std::vector<CIpAddr> local;    // --local; empty: the default of the mode
  EHostRole role = EHostRole::kClient;
  bool tcp = true;
  bool udp = true;
  bool headerOnly = false;
  std::vector<CFilterRule> rules;  // --filter, in order
  bool exclude = false;          // the rules drop what they match
  std::string logDir;            // empty: no logs
  bool stats = false;
  bool data = false;
  bool hex = false;
  std::string exportFile;
  EExportForm exportFormat = EExportForm::kCsv;
  std::string hostsExportFile;
  std::string jsonFile;          // --json: JSON Lines at the end
  bool resolve = true;           // reverse lookups (live traces only)
  std::string servicesFile;      // --services: the service table as CSV
  int durationSeconds = 0;       // 0: until Ctrl-C / SIGTERM
  std::string ipfix;             // --ipfix HOST:PORT, checked; empty: no flow export
  std::string writeFile;         // --write: save frames (live only)
  bool writeAll = false;         // every frame, not only the recorded ones
  uint64_t writeLimitMiB = 0;    // rotate at this size; 0: one file
  unsigned writeFiles = 5;       // files kept by the rotation
  uint32_t memoryLimitMib = 512; // --memory-limit: payload the records may hold
  bool quiet = false;
};

// Parses everything after the program name; "--headless" itself is skipped
// wherever it stands. Returns the options, or nothing with `error` set to a
// one-line reason (no program name, no line end) for a usage error.
//
// With --log-dir and neither --stats nor --data, both logs are written.
std::optional<CHeadlessOptions> ParseHeadlessOptions(const std::vector<std::string_view>& args,
                                                     std::string& error);

// A filter rule in its text form, either family. IPv4: four octets, each
// decimal 0..255 or "*", then ":" and a port. IPv6: a prefix or a whole
// address in brackets, then ":" and a port ("[2001:db8::/32]:443"). The port
// is decimal 0..65535 or "*"; "*" and 0 both mean any.
std::optional<CFilterRule> ParseRuleText(std::string_view text);

// The --help text, lines ending in LF.
const char* HeadlessUsage();
