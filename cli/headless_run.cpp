#include "cli/headless_run.h"

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/app_state.h"
#include "cli/headless_options.h"
#include "cli/headless_report.h"
#include "engine/capture_privileges.h"
#include "engine/capture_controller.h"
#include "engine/capture_file_replay.h"
#include "filters/filter_rule_list.h"
#include "engine/interface_enumeration.h"
#include "engine/interface_record.h"
#include "model/traffic_model.h"
#include "output/conversation_export.h"
#include "output/log_writer.h"
#include "output/value_format.h"

namespace {

// Cleared by SIGINT or SIGTERM; the replay and the live loop poll it.
std::atomic<int> gKeepGoing{1};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int signo) {
  gKeepGoing.store(0);
  // A second signal should end the program at once, not wait for the
  // final pass.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(signo, &dfl, nullptr);
}

void SetStopHandlers(bool install) {
  struct sigaction action {};
  action.sa_handler = install ? OnStopSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void Complain(const std::string& text) { std::fprintf(stderr, "trafalyn: %s\n", text.c_str()); }

void PrintNotifications(CNotificationQueue& queue) {
  for (std::string& m : queue.TakeAll()) {
    // One line per message: the dialog texts put their detail on a line of
    // its own.
    while (!m.empty() && (m.back() == '\n' || m.back() == '\r')) m.pop_back();
    std::replace(m.begin(), m.end(), '\n', ' ');
    std::replace(m.begin(), m.end(), '\r', ' ');
    Complain(m);
  }
}

std::string AddressList(const std::vector<CIpAddr>& addresses) {
  std::string text;
  for (const CIpAddr& a : addresses) text += (text.empty() ? "" : ",") + FormatAddress(a);
  return text.empty() ? "(none)" : text;
}

void Configure(CAppState& state, const CHeadlessOptions& o) {
  state.hostRole = o.role;
  state.tcp = o.tcp ? 1 : 0;
  state.udp = o.udp ? 1 : 0;
  state.headerOnly = o.headerOnly ? 1 : 0;
  if (!o.logDir.empty()) {
    state.logDir = o.logDir;
    state.statsOption = o.stats ? 1 : 0;
    state.dataOption = o.data ? 1 : 0;
    state.hexOption = o.hex ? 1 : 0;
    state.logToFile = 1;
  }
  CFilterRuleList rules;
  rules.SetMode(o.filterMode);
  for (const auto& r : o.rules) {
    rules.Append(CFilterRule(r.address[0], r.address[1], r.address[2], r.address[3], r.port));
  }
  state.Model().filterRules.Replace(std::move(rules));
}

// The newest second the model holds: the clock of a replay's final pass.
int64_t NewestRecordedSecond(const CTrafficModel& model) {
  int64_t newest = model.lastFlushTime;
  for (const CHostRecord& h : model.hosts.Hosts()) newest = std::max<int64_t>(newest, h.lastTime.sec);
  for (const auto& c : model.conversations.Conversations()) {
    newest = std::max<int64_t>(newest, c->times[CConversation::kLastTime].sec);
  }
  return newest;
}

struct CRun {
  CRunCounts counts;
  std::vector<CIpAddr> local;
  int status = 0;       // exit status so far
  bool finish = false;  // false: nothing was read, no summary or exports
  int64_t finalNow = 0;
};

CRun Replay(CAppState& state, const CHeadlessOptions& o) {
  CRun run;
  CInterfaceRecord local;
  local.deviceName = o.file;
  local.addresses = o.local;
  if (local.addresses.empty()) {
    std::string error;
    const auto address = MostFrequentAddress(o.file, &error);
    if (address) {
      local.addresses.push_back(*address);
    } else if (!error.empty()) {
      Complain("cannot read " + o.file + ": " + error);
      run.status = 1;
      return run;
    } else {
      Complain(o.file + " holds no IPv4 traffic to take the local address from; give --local");
    }
  }
  run.local = local.addresses;
  const CReplayResult r = ReplayCaptureFile(state, o.file, local, &gKeepGoing);
  run.counts.framesRead = r.framesRead;
  run.counts.framesRecorded = r.framesRecorded;
  if (!r.Ok() && r.framesRead == 0) {
    Complain("cannot read " + o.file + ": " + r.error);
    run.status = 1;
    return run;
  }
  if (!r.Ok()) {
    Complain(o.file + " is damaged after frame " + std::to_string(r.framesRead) + ": " + r.error +
             "; what came before is kept");
    run.status = 1;
  }
  if (r.cancelled) Complain("replay stopped after frame " + std::to_string(r.framesRead));
  run.finish = true;
  std::lock_guard<std::mutex> lock(state.trafficLock);
  run.finalNow = NewestRecordedSecond(state.Model());
  return run;
}

// The interface record to trace on: the enumerated device of that name, or
// a new record when the library did not list it (it may still open).
int SelectDevice(CAppState& state, const CHeadlessOptions& o) {
  EnumerateInterfaces(state);
  int index = -1;
  for (std::size_t i = 0; i < state.interfaces.size(); ++i) {
    if (state.interfaces[i]->deviceName == o.device) index = static_cast<int>(i);
  }
  const bool listed = index >= 0;
  if (!listed) {
    auto record = std::make_unique<CInterfaceRecord>();
    record->deviceName = o.device;
    record->label = std::to_string(state.interfaces.size() + 1) + ". " + o.device;
    state.interfaces.push_back(std::move(record));
    index = static_cast<int>(state.interfaces.size()) - 1;
  }
  CInterfaceRecord& device = *state.interfaces[static_cast<std::size_t>(index)];
  if (!o.local.empty()) device.addresses = o.local;
  // An unlisted device may still open (the library lists not every one);
  // whether it has addresses is unknown then.
  if (device.addresses.empty() && listed) {
    Complain(o.device + " has no IPv4 address; only loopback traffic can be recorded (give --local)");
  }
  return index;
}

CRun Live(CAppState& state, const CHeadlessOptions& o) {
  using Clock = std::chrono::steady_clock;
  CRun run;
  CCapturePrivileges::WarnIfRoot();
  state.interfaceIndex = SelectDevice(state, o);
  run.local = state.InterfaceAt(state.interfaceIndex)->addresses;
  std::atomic<int> ended{0};
  CCaptureController controller(state);
  controller.SetEndedListener([&ended](int) { ended.store(1); });
  controller.Start();
  const auto start = Clock::now();
  auto lastLogCheck = start;
  while (gKeepGoing.load() != 0 && ended.load() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto now = Clock::now();
    if (o.durationSeconds > 0 && now - start >= std::chrono::seconds(o.durationSeconds)) break;
    // The refresh worker's share of the cadence: a quiet link still gets
    // its conversations written once they are due.
    if (now - lastLogCheck >= std::chrono::seconds(1)) {
      lastLogCheck = now;
      std::lock_guard<std::mutex> lock(state.trafficLock);
      WriteLogsIfDue(state.Model(), static_cast<int64_t>(std::time(nullptr)));
    }
  }
  if (ended.load() == 0) {
    // The capture library hands frames over in blocks, at the latest after
    // one read time-out; frames still in the kernel's buffer when Stop
    // comes would be lost. Give them that time to arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(CCaptureController::kReadTimeoutMs + 200));
  }
  controller.Stop();
  const CCaptureStats stats = controller.Stats();
  run.counts = {stats.framesSeen, stats.framesRecorded, true, stats.kernelDrops};
  run.finalNow = static_cast<int64_t>(std::time(nullptr));
  if (ended.load() != 0) {
    // The controller has posted why. A device that delivered nothing was
    // most likely never opened: there is nothing to summarise.
    run.status = 1;
    run.finish = stats.framesSeen > 0;
    if (!run.finish) Complain("no capture on " + o.device);
    return run;
  }
  run.finish = true;
  return run;
}

// The final log pass, the exports and the summary text. Returns the summary.
std::string Finish(CAppState& state, const CHeadlessOptions& o, CRun& run) {
  std::lock_guard<std::mutex> lock(state.trafficLock);
  CTrafficModel& model = state.Model();
  if (!o.logDir.empty()) {
    if (state.logToFile.load() != 0) {
      WriteLogs(model, 1, state.statsOption, state.dataOption, state.hexOption, run.finalNow);
    }
    // The writer turns logging off when a file fails; it has said why.
    if (state.logToFile.load() == 0) run.status = 1;
  }
  if (!o.exportFile.empty()) {
    const CExportResult result =
        ExportConversations(model, o.exportFile, o.exportFormat, ConversationListRows(model.conversations));
    // The last message is the outcome ("saved", or nothing to export),
    // which the user of a dialog needs and a script does not.
    const std::size_t errors = result.opened ? result.messages.size() - 1 : result.messages.size();
    for (std::size_t i = 0; i < errors; ++i) Complain(result.messages[i]);
    if (errors > 0) run.status = 1;
  }
  if (!o.hostsExportFile.empty()) {
    std::string error;
    if (!WriteHostCsv(model.hosts, o.hostsExportFile, error)) {
      Complain(error);
      run.status = 1;
    }
  }
  if (o.quiet) return {};
  return "Local host: " + AddressList(run.local) + "\n" + RenderSummary(run.counts, model, state.quit);
}

bool IsDirectory(const std::string& path, std::string& reason) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) reason = "not a directory";
  return S_ISDIR(st.st_mode);
}

}  // namespace

int RunHeadlessProgram(const std::vector<std::string_view>& args) {
  std::string error;
  const auto options = ParseHeadlessOptions(args, error);
  if (!options) {
    Complain(error + " (see trafalyn --headless --help)");
    return 2;
  }
  const CHeadlessOptions& o = *options;
  if (o.help) {
    std::fputs(HeadlessUsage(), stdout);
    return 0;
  }
  if (!o.logDir.empty() && !IsDirectory(o.logDir, error)) {
    Complain("cannot log to " + o.logDir + ": " + error);
    return 1;
  }

  CAppState state;
  state.notifications.SetListener([&state] { PrintNotifications(state.notifications); });
  Configure(state, o);
  gKeepGoing.store(1);
  SetStopHandlers(true);
  CRun run = o.file.empty() ? Live(state, o) : Replay(state, o);
  std::string summary;
  if (run.finish) summary = Finish(state, o, run);
  SetStopHandlers(false);
  PrintNotifications(state.notifications);
  std::fputs(summary.c_str(), stdout);
  std::fflush(stdout);
  return run.status;
}
