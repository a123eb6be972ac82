#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/capture_session.h"
#include "wire/ip_address.h"

// The end of a run as JSON Lines (one object per line, LF, UTF-8, fields in
// snake_case): a "conversation" record per conversation in table order, a
// "host" record per host in address order, a "process" record per program.
// Counters are numbers, times Unix seconds with microseconds, unknown
// values null. A conversation whose remote address is one of `local` (or
// loopback) has both ends here and carries "peer_process" too. Pure; any
// thread.
std::string JsonLines(const std::vector<CConversationRowData>& rows,
                      const std::vector<CHostSummary>& hosts, const std::vector<CIpAddr>& local,
                      const std::vector<CProcessSummary>& processes);

// Writes `text` to a new or truncated private file (mode 0600, never
// through a symbolic link). False, with `error` set, when it cannot be
// opened or written.
bool WriteJsonLines(const std::string& fileName, const std::string& text, std::string& error);
