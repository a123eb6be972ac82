#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/capture_session.h"
#include "services/service_row.h"
#include "wire/ip_address.h"

// The program fields of the JSON records. Process attribution fills this
// one value; until then every program is unknown (null) and there are no
// process records.
struct CProcessView {
  struct COwner {
    std::optional<std::string> process;
    std::optional<int> pid;
    // Both ends local: the program at the other end.
    std::optional<std::string> peerProcess;
  };
  struct CTotals {
    std::string process;
    std::vector<int> pids;
    uint64_t bytesSent = 0;
    uint64_t bytesReceived = 0;
    uint64_t packetsSent = 0;
    uint64_t packetsReceived = 0;
  };
  std::map<int, COwner> byConversation;         // by ConvId
  std::map<CIpAddr, std::string> topByHost;     // the program that moved the most bytes
  std::vector<CTotals> processes;
};

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
                      const CProcessView& processes, const std::vector<CServiceRow>& services);
