#pragma once
#include <string_view>
#include <vector>

// The whole of `trafalyn --headless`: parses `args` (everything after the
// program name), replays a file or runs a live trace, then writes the final
// log pass, the exports and the summary. No display, no settings store.
//
// Runs on the calling thread, which it keeps until the end; installs
// handlers for SIGINT and SIGTERM that end the trace (or replay) cleanly,
// and restores the default handlers once one of them has fired, so a
// second Ctrl-C ends the program at once. A live trace keeps reading for
// one more read time-out after the stop request, so that frames already in
// the kernel's buffer are recorded. Returns the exit status of the table in
// HeadlessUsage(): 0 complete, 1 an input failed or data was lost, 2 a usage
// error or an unwritable output (found before the work), 130 a replay
// interrupted.
int RunHeadlessProgram(const std::vector<std::string_view>& args);
