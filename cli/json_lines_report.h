#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/capture_session.h"
#include "services/service_row.h"
#include "wire/ip_address.h"

// The end of a run as JSON Lines (one object per line, LF, UTF-8, fields in
// snake_case): a "conversation" record per conversation in table order, a
// "host" record per host in address order, a "process" record per program,
// a "service" record per service (its percentiles null without an answer).
// Counters are numbers, times Unix seconds with microseconds, unknown
// values null. A conversation whose remote address is one of `local` (or
// loopback) has both ends here and carries "peer_process" too. Pure; any
// thread.
std::string JsonLines(const std::vector<CConversationRowData>& rows,
                      const std::vector<CHostSummary>& hosts, const std::vector<CIpAddr>& local,
                      const std::vector<CProcessSummary>& processes,
                      const std::vector<CServiceRow>& services);
