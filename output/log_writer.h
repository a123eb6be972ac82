#pragma once
#include <cstdint>
#include <string>

class CTrafficModel;

// The trace log and the statistics log, written in passes while Log to File
// is on. All functions run on the caller's thread with the traffic lock held;
// failures are posted to State().notifications, never shown directly.
//
// `now` is seconds since 1970: the wall clock in a live trace, the capture
// clock when replaying. It decides which conversations are due and stamps the
// names of new files.

// Seconds between normal passes must exceed this.
inline constexpr int64_t kLogPassInterval = 15;

// True when Log to File is on and more than kLogPassInterval seconds passed
// since the last normal pass; then records `now` as the last-flush time.
bool LogPassDue(CTrafficModel& model, int64_t now);

// LogPassDue, then a normal pass with the Stats, Data and Hex options in force.
void WriteLogsIfDue(CTrafficModel& model, int64_t now);

// One pass. `force` (1 for the final pass) makes every unwritten conversation
// due; `stats` writes the statistics log, `data` the trace log, with hex dumps
// when `hex`. A file that cannot be opened posts "Could not open file: <name>"
// and turns Log to File off; a short write (disk full) turns it off and
// posts "Could not write file: <name>" once.
void WriteLogs(CTrafficModel& model, int force, int stats, int data, int hex, int64_t now);

// Forgets both file names, so the next pass starts new files.
void ResetLogFiles(CTrafficModel& model);

// `dir` + "/" (unless empty or already ending in "/") + prefix + stamp + ".txt".
std::string LogFileName(const std::string& dir, const char* prefix, int64_t now);
