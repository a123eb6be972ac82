#include "output/log_writer.h"

#include <atomic>
#include <new>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output/csv_row.h"
#include "output/output_file.h"
#include "output/packet_text.h"
#include "output/value_format.h"

namespace {

constexpr const char* kStatsHeader =
    "\"Date\",\"Time\",\"ConvId\",\"Sent Bytes\",\"Rcv Bytes\",\"Pkts Sent\",\"Pkts Rcvd\","
    "\"Response Time\",\"Send\",\"Recieve\"\n";
constexpr const char* kRenderError = "Error retrieving data\r\n";

// Conversations are written once idle this long, or sooner once they have
// traffic both ways; only the newest ones may wait at all.
constexpr int64_t kIdleSeconds = 30;
constexpr int64_t kAnsweredIdleSeconds = 5;
constexpr std::size_t kPendingNewest = 40;

// The final pass runs after the quit flag is set; with that flag the texts
// would come out without their data, so the writer renders to completion.
// Its texts are bounded by the recent-list and table limits.
const std::atomic<int> kNeverQuit{0};

bool OpenOrReport(COutputFile& file, const std::string& name, CAppState& state) {
  if (file.Open(name, COutputFile::Mode::kAppend)) return true;
  state.notifications.Post("Could not open file: " + name);
  state.logToFile = 0;
  return false;
}

// A disk that filled up ends logging like a file that cannot be opened. The
// user is told once, when logging stops, not for every item the pass still
// tries: a log that silently stops growing would pass for a quiet network.
void WriteOrSwitchOff(COutputFile& file, std::string_view text, const std::string& name,
                      CAppState& state) {
  if (file.Write(text)) return;
  if (state.logToFile.exchange(0) != 0) state.notifications.Post("Could not write file: " + name);
}

bool IsDue(const CConversation& c, int force, int64_t now, std::size_t newer) {
  if (c.closed || force) return true;
  const int64_t idle = now - c.times[CConversation::kLastTime].sec;
  if (idle > kIdleSeconds) return true;
  if (c.bytesReceived > 0 && c.bytesSent > 0 && idle > kAnsweredIdleSeconds) return true;
  return newer > kPendingNewest;
}

void WriteStats(CTrafficModel& model, int force, int64_t now) {
  CAppState& state = model.State();
  COutputFile file;
  if (model.statsFileName.empty()) {
    model.statsFileName = LogFileName(state.logDir, "stats", now);
    if (!OpenOrReport(file, model.statsFileName, state)) return;
    WriteOrSwitchOff(file, kStatsHeader, model.statsFileName, state);
  }
  const auto& conversations = model.conversations.Conversations();
  const std::size_t n = conversations.size();
  for (std::size_t i = 0; i < n; ++i) {
    CConversation& c = *conversations[i];
    if (c.statsLogged || !IsDue(c, force, now, n - i)) continue;
    c.statsLogged = 1;
    if (!file.IsOpen() && !OpenOrReport(file, model.statsFileName, state)) return;
    std::string row;
    try {
      row = ConversationCsvRow(c, kNeverQuit);
    } catch (const std::bad_alloc&) {
      row = kRenderError;
    }
    WriteOrSwitchOff(file, row, model.statsFileName, state);
  }
}

void WriteTrace(CTrafficModel& model, int hex, int64_t now) {
  CAppState& state = model.State();
  if (model.traceFileName.empty()) model.traceFileName = LogFileName(state.logDir, "trace", now);
  COutputFile file;
  std::string text;
  for (const CPacketRef& r : model.recent) {
    if (r->traceLogged) continue;
    r->traceLogged = 1;
    if (!file.IsOpen() && !OpenOrReport(file, model.traceFileName, state)) return;
    text.clear();
    try {
      AppendHeaderBlock(text, *r);
      if (hex) {
        AppendHexDump(text, *r, kNeverQuit);
      } else {
        AppendDataText(text, *r, kNeverQuit);
      }
    } catch (const std::bad_alloc&) {
      text = kRenderError;
    }
    WriteOrSwitchOff(file, text, model.traceFileName, state);
  }
}

}  // namespace

std::string LogFileName(const std::string& dir, const char* prefix, int64_t now) {
  std::string name = dir;
  if (!name.empty() && name.back() != '/') name += '/';
  name += prefix;
  name += FormatFileStamp(now);
  name += ".txt";
  return name;
}

bool LogPassDue(CTrafficModel& model, int64_t now) {
  if (!model.State().logToFile.load()) return false;
  if (now - model.lastFlushTime <= kLogPassInterval) return false;
  model.lastFlushTime = now;
  return true;
}

void WriteLogsIfDue(CTrafficModel& model, int64_t now) {
  if (!LogPassDue(model, now)) return;
  CAppState& state = model.State();
  WriteLogs(model, 0, state.statsOption.load(), state.dataOption.load(), state.hexOption.load(),
            now);
}

void WriteLogs(CTrafficModel& model, int force, int stats, int data, int hex, int64_t now) {
  if (stats) WriteStats(model, force, now);
  if (data) WriteTrace(model, hex, now);
}

void ResetLogFiles(CTrafficModel& model) {
  model.traceFileName.clear();
  model.statsFileName.clear();
}
