#pragma once
#include <cstdint>
#include <string>

#include "model/cancel_token.h"
#include "model/packet_record.h"

// The texts of the two log files: the statistics log is CSV (its header line,
// then one ConversationCsvRow per conversation), the trace log a sequence of
// packet texts. Pure; any thread.

inline constexpr const char* kStatsLogHeader =
    "\"Date\",\"Time\",\"ConvId\",\"Sent Bytes\",\"Rcv Bytes\",\"Pkts Sent\",\"Pkts Rcvd\","
    "\"Response Time\",\"Send\",\"Recieve\"\n";

// What a log gets in place of a text that could not be built (out of memory).
inline constexpr const char* kLogRenderError = "Error retrieving data\r\n";

// `dir` + "/" (unless empty or already ending in "/") + prefix + stamp +
// suffix + ".txt", the stamp being `now` (seconds by the session's clock) as
// FormatFileStamp gives it. `suffix` is empty, or "-2", "-3", ... when the
// name is taken.
std::string LogFileName(const std::string& dir, const char* prefix, int64_t now,
                        const std::string& suffix = {});

// The trace log's text of one packet: its header block, then its data as a
// hex dump (`hex`) or as text.
void AppendTraceText(std::string& out, const CPacketRecord& r, bool hex);

// Where `count` packets should have stood in the trace log.
std::string TraceGapText(uint64_t count);
