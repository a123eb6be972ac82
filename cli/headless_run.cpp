#include "cli/headless_run.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "cli/headless_options.h"
#include "cli/headless_report.h"
#include "cli/output_paths.h"
#include "cli/json_lines_report.h"
#include "engine/capture_privileges.h"
#include "engine/traffic_engine.h"
#include "filters/filter_rule_list.h"
#include "model/traffic_model.h"
#include "output/conversation_export.h"
#include "output/value_format.h"
#include "services/service_csv.h"

namespace {

// Exit statuses besides 0 and 1.
constexpr int kUsage = 2;
constexpr int kInterrupted = 130;

// Cleared by SIGINT or SIGTERM; the replay and the live loop poll it.
std::atomic<bool> gKeepGoing{true};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int signo) {
  gKeepGoing.store(false);
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
  // The replay notices the request between frames. A read from a pipe cut
  // short by the signal would instead end it as a damaged file.
  action.sa_flags = SA_RESTART;
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

void Configure(CTrafficEngine& engine, const CHeadlessOptions& o) {
  engine.SetCaptureOptions({o.tcp, o.udp, o.headerOnly, o.role});
  engine.SetPayloadLimit(static_cast<std::size_t>(o.memoryLimitMib) << 20);
  if (!o.logDir.empty()) engine.SetLogOptions({true, o.stats, o.data, o.hex, o.logDir});
  CFilterRuleList rules;
  rules.SetMode(o.exclude ? CFilterRuleList::kExclude : CFilterRuleList::kInclude);
  for (const CFilterRule& r : o.rules) rules.Append(r);
  engine.Filters().Replace(std::move(rules));
  engine.Names().SetReverseLookups(o.resolve);
  // Only an output that shows services makes the sessions hand them exchanges.
  engine.Services().SetEnabled(!o.servicesFile.empty() || !o.jsonFile.empty());
  if (!o.ipfix.empty()) {
    if (const auto collector = CCollectorAddress::Parse(o.ipfix)) engine.Flows().Start(*collector);
  }
  if (!o.writeFile.empty()) {
    engine.Capture().SetFrameSaving({o.writeFile, o.writeAll, o.writeLimitMiB, o.writeFiles});
  }
}

struct CRun {
  CRunCounts counts;
  std::vector<CIpAddr> local;
  int status = 0;       // exit status so far
  bool finish = false;  // false: nothing was read, no summary or exports
};

CRun Replay(CTrafficEngine& engine, const CHeadlessOptions& o) {
  CRun run;
  run.local = o.local;
  // Opened once: standard input and FIFOs cannot be read twice, so the
  // guess at the local address reads ahead and the replay starts over
  // from what it kept.
  CCaptureInput input(o.file);
  if (!input.Ok()) {
    Complain("cannot read " + o.file + ": " + input.Error());
    run.status = std::max(run.status, 1);
    return run;
  }
  if (run.local.empty()) {
    std::string error;
    run.local = MostFrequentAddresses(input, &error);
    if (run.local.empty() && !error.empty()) {
      Complain("cannot read " + o.file + ": " + error);
      run.status = std::max(run.status, 1);
      return run;
    }
    if (run.local.empty()) {
      Complain(o.file + " holds no IP traffic to take the local address from; give --local");
    }
  }
  const CReplayResult r = engine.Replay(input, run.local, &gKeepGoing);
  run.counts.framesRead = r.framesRead;
  run.counts.framesRecorded = r.framesRecorded;
  if (!r.Ok() && r.framesRead == 0) {
    Complain("cannot read " + o.file + ": " + r.error);
    run.status = std::max(run.status, 1);
    return run;
  }
  if (!r.Ok()) {
    Complain(o.file + " is damaged after frame " + std::to_string(r.framesRead) + ": " + r.error +
             "; what came before is kept");
    run.status = std::max(run.status, 1);
  }
  if (r.cancelled) {
    // What was recorded is summarised and exported, but it is not the
    // file's whole traffic.
    Complain("replay stopped after frame " + std::to_string(r.framesRead));
    run.status = std::max(run.status, kInterrupted);
  }
  run.finish = true;
  return run;
}

// The interface record to trace on: the enumerated device of that name, or
// a new record when the library did not list it (it may still open).
int SelectDevice(CTrafficEngine& engine, const CHeadlessOptions& o) {
  engine.EnumerateInterfaces();
  int index = -1;
  const auto& list = engine.Interfaces();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i]->deviceName == o.device) index = static_cast<int>(i);
  }
  const bool listed = index >= 0;
  if (!listed) {
    auto record = std::make_unique<CInterfaceRecord>();
    record->deviceName = o.device;
    record->label = std::to_string(list.size() + 1) + ". " + o.device;
    index = engine.AddInterface(std::move(record));
  }
  CInterfaceRecord& device = *engine.Interfaces()[static_cast<std::size_t>(index)];
  if (!o.local.empty()) device.addresses = o.local;
  // An unlisted device may still open (the library lists not every one);
  // whether it has addresses is unknown then.
  if (device.addresses.empty() && listed) {
    Complain(o.device + " has no IP address; only loopback traffic can be recorded (give --local)");
  }
  return index;
}

CRun Live(CTrafficEngine& engine, const CHeadlessOptions& o) {
  using Clock = std::chrono::steady_clock;
  CRun run;
  CCapturePrivileges::WarnIfRoot();
  const int index = SelectDevice(engine, o);
  run.local = engine.InterfaceAt(index)->addresses;
  std::atomic<bool> ended{false};
  CCaptureController& capture = engine.Capture();
  capture.SetEndedListener([&ended](int) { ended.store(true); });
  engine.StartLive(index);
  const auto start = Clock::now();
  while (gKeepGoing.load() && !ended.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (o.durationSeconds > 0 && Clock::now() - start >= std::chrono::seconds(o.durationSeconds)) break;
  }
  if (!ended.load()) {
    // The capture library hands frames over in blocks, at the latest after
    // one read time-out; frames still in the kernel's buffer when Stop
    // comes would be lost. Give them that time to arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(CCaptureController::kReadTimeoutMs + 200));
  }
  engine.StopLive();
  capture.SetEndedListener({});
  const CCaptureStats stats = capture.Stats();
  run.counts.framesRead = stats.framesSeen;
  run.counts.framesRecorded = stats.framesRecorded;
  run.counts.live = true;
  run.counts.kernelDrops = stats.kernelDrops;
  run.counts.frameSaving = !o.writeFile.empty();
  run.counts.framesSaved = stats.framesSaved;
  run.counts.framesNotSaved = stats.framesNotSaved;
  if (stats.framesNotSaved > 0) run.status = std::max(run.status, 1);
  if (ended.load()) {
    // The controller has posted why. A device that delivered nothing was
    // most likely never opened: there is nothing to summarise.
    run.status = std::max(run.status, 1);
    run.finish = stats.framesSeen > 0;
    if (!run.finish) Complain("no capture on " + o.device);
    return run;
  }
  run.finish = true;
  return run;
}

// The exports and the summary text, after the final log pass. Returns the
// summary.
std::string Finish(CTrafficEngine& engine, const CHeadlessOptions& o, CRun& run) {
  engine.Shutdown();
  // The log service turns itself off when a file fails; it has said why.
  const CLogService& logs = engine.Logs();
  if (!o.logDir.empty() && logs.Failed()) run.status = std::max(run.status, 1);
  // The trace log marks where its lines are missing; the status says that
  // it has such marks.
  for (const auto& [lost, what] :
       {std::pair{logs.PacketsNotWritten(), " packets not written to the trace log"},
        std::pair{logs.RowsNotWritten(), " conversations not written to the statistics log"}}) {
    if (lost == 0) continue;
    Complain(std::to_string(lost) + what + ": it fell behind");
    run.status = std::max(run.status, 1);
  }
  if (const auto flows = engine.Flows().Stats()) {
    run.counts.flowExport = true;
    run.counts.flowsSent = flows->sent;
    run.counts.flowsLost = flows->Lost();
    if (flows->Lost() > 0) run.status = std::max(run.status, 1);
  }
  run.counts.rules = engine.Filters().Report();
  if (!o.servicesFile.empty()) {
    std::string text = ServiceCsvHeader();
    for (const CServiceRow& row : engine.Services().Rows()) text += ServiceCsvRow(row);
    std::string error;
    if (!WriteWholeFile(text, o.servicesFile, error)) {
      Complain(error);
      run.status = std::max(run.status, 1);
    }
  }
  const std::shared_ptr<CCaptureSession> session = engine.Session();
  run.counts.payload = session->PayloadStats();
  // Packets memory could not hold are lost data; the session has said so.
  if (run.counts.payload.notStored > 0) run.status = std::max(run.status, 1);
  if (!o.exportFile.empty()) {
    std::vector<CExportRow> rows = session->WithModel(
        [](const CTrafficModel& model) { return ConversationListRows(model.conversations); });
    // The rows are copies: the file is written without the traffic lock.
    static const CCancelToken kNever;
    const CExportResult result =
        ExportConversations(o.exportFile, o.exportFormat, session->CopyRows(rows), kNever);
    // A success's message ("saved", or nothing to export) is for the user
    // of a dialog, not for a script.
    if (result.failed) {
      for (const std::string& m : result.messages) Complain(m);
      run.status = std::max(run.status, 1);
    }
  }
  if (!o.hostsExportFile.empty()) {
    session->WithModel([&](const CTrafficModel& model) {
      std::string error;
      if (!WriteHostCsv(model.hosts, o.hostsExportFile, error)) {
        Complain(error);
        run.status = std::max(run.status, 1);
      }
    });
  }
  if (o.quiet && o.jsonFile.empty()) return {};
  // Copies with names; the engine has shut down, so its token would cut
  // the walk short.
  static const CCancelToken kNever;
  const std::vector<CConversationRowData> rows = session->ConversationRows(kNever);
  const std::vector<CHostSummary> hosts = session->Hosts(false).hosts;
  const std::vector<CProcessSummary> processes = session->Processes();
  if (!o.jsonFile.empty()) {
    std::string error;
    const std::string text =
        JsonLines(rows, hosts, run.local, processes, engine.Services().Rows());
    if (!WriteWholeFile(text, o.jsonFile, error)) {
      Complain(error);
      run.status = std::max(run.status, 1);
    }
  }
  if (o.quiet) return {};
  return "Local host: " + AddressList(run.local) + "\n" + RenderSummary(run.counts, rows, hosts, processes, engine.ProcessNote());
}

}  // namespace

int RunHeadlessProgram(const std::vector<std::string_view>& args) {
  std::string error;
  const auto options = ParseHeadlessOptions(args, error);
  if (!options) {
    Complain(error + " (see trafalyn --headless --help)");
    return kUsage;
  }
  const CHeadlessOptions& o = *options;
  if (o.help) {
    std::fputs(HeadlessUsage(), stdout);
    return 0;
  }
  if (!CheckOutputPaths(o, error)) {
    Complain(error);
    return kUsage;
  }

  CTrafficEngine engine;
  CNotificationQueue& notifications = engine.Notifications();
  notifications.SetListener([&notifications] { PrintNotifications(notifications); });
  Configure(engine, o);
  gKeepGoing.store(true);
  SetStopHandlers(true);
  CRun run = o.file.empty() ? Live(engine, o) : Replay(engine, o);
  std::string summary;
  if (run.finish) summary = Finish(engine, o, run);
  engine.Shutdown();
  SetStopHandlers(false);
  notifications.SetListener({});
  PrintNotifications(notifications);
  std::fputs(summary.c_str(), stdout);
  std::fflush(stdout);
  return run.status;
}
