#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/capture_controller.h"
#include "engine/capture_file_replay.h"
#include "engine/capture_options.h"
#include "engine/capture_session.h"
#include "engine/engine_timer.h"
#include "engine/flow_export_service.h"
#include "engine/host_name_service.h"
#include "engine/interface_record.h"
#include "engine/log_service.h"
#include "engine/notification_queue.h"
#include "engine/replay_runner.h"
#include "engine/service_latency_service.h"
#include "filters/active_filter_rules.h"
#include "model/cancel_token.h"
#include "processes/socket_owner_cache.h"

// The engine as the desktop and the headless program use it: the settings
// in force (capture switches, filter rules, log options), the interface
// list, the session whose traffic the pages show, live traces and replays,
// the log service and its one-second timer.
//
// A live trace runs in a live session, which lasts across Stop and Start;
// every replay gets a session of its own, and a live trace started while a
// replay's session is shown gets a new one. Sessions replace each other
// whole: ConvIds start at 1, the clock is the new session's, and the log
// files are new.
//
// Owned and driven by one thread (the user-interface thread, or the
// headless program's); Session(), the notification queue, the switches, the
// filters and the capture statistics may be used from any thread.
class CTrafficEngine {
 public:
  // `wall` reads the wall clock for live sessions (tests give their own).
  explicit CTrafficEngine(CSessionClock::WallClock wall = &CSessionClock::SystemSeconds);
  // Shutdown.
  ~CTrafficEngine();

  CTrafficEngine(const CTrafficEngine&) = delete;
  CTrafficEngine& operator=(const CTrafficEngine&) = delete;

  CNotificationQueue& Notifications() { return notifications_; }

  // The capture devices, listed once at start-up before any trace.
  void EnumerateInterfaces();
  const std::vector<std::unique_ptr<CInterfaceRecord>>& Interfaces() const { return interfaces_; }
  const CInterfaceRecord* InterfaceAt(int index) const;
  // Appends a device the capture library did not list; returns its index.
  int AddInterface(std::unique_ptr<CInterfaceRecord> record);

  void SetCaptureOptions(const CCaptureOptions& options) { switches_.Set(options); }
  CCaptureOptions CaptureOptions() const { return switches_.Get(); }
  // The memory limit: payload bytes the session's packet records may hold.
  // Takes effect with the next packet.
  void SetPayloadLimit(std::size_t bytes) { switches_.SetPayloadLimit(bytes); }
  std::size_t PayloadLimit() const { return switches_.PayloadLimit(); }
  CActiveFilterRules& Filters() { return filters_; }

  // Switching logging off writes the final pass first.
  void SetLogOptions(const CLogOptions& options);
  CLogOptions LogOptions() const { return logs_.Options(); }
  CLogService& Logs() { return logs_; }

  // Export of final conversations to a flow collector, for every session.
  CFlowExportService& Flows() { return flows_; }

  // Host names for the session shown; reverse lookups are off until the
  // program switches them on.
  CHostNameService& Names() { return names_; }
  // Latency per service of the session shown; off until someone reads it.
  CServiceLatencyService& Services() { return services_; }

  // What the status line says about program names, once for the whole
  // session: a replay has none; a live trace may miss some (short-lived
  // programs without the kernel tracer, other users' without
  // cap_sys_ptrace). Empty when nothing is missing or no trace ran yet.
  std::string ProcessNote() const;
  static constexpr const char* kReplayProcessNote = "Replayed traces carry no process data.";

  // The session the pages show.
  std::shared_ptr<CCaptureSession> Session() const;
  // True while the session shown is a replay's.
  bool ShowsReplay() const;

  // Starts a live trace on the interface at `index` (false: no such
  // interface). A replay in progress stops; a replay's session is replaced
  // by a new live one (ask the user first).
  bool StartLive(int index);
  // Ends the live trace: every conversation becomes final.
  void StopLive();
  CCaptureController& Capture() { return capture_; }

  // Replays `input` on a thread of its own in a new session, with `local`
  // as the local host's addresses. A live trace stops first.
  void StartReplay(std::unique_ptr<CCaptureInput> input, std::vector<CIpAddr> local,
                   std::function<void(const CReplayResult&)> done);
  void StartReplay(const std::string& path, std::vector<CIpAddr> local,
                   std::function<void(const CReplayResult&)> done) {
    StartReplay(std::make_unique<CCaptureInput>(path), std::move(local), std::move(done));
  }
  void StopReplay() { replay_.Stop(); }
  bool IsReplaying() const { return replay_.IsRunning(); }
  // The same on the calling thread, stopped when `keepGoing` turns false.
  CReplayResult Replay(CCaptureInput& input, std::vector<CIpAddr> local,
                       const std::atomic<bool>* keepGoing);
  CReplayResult Replay(const std::string& path, std::vector<CIpAddr> local,
                       const std::atomic<bool>* keepGoing) {
    CCaptureInput input(path);
    return Replay(input, std::move(local), keepGoing);
  }

  // Closing: the long loops are told to end, the replay and the trace stop,
  // every conversation becomes final and the final log pass runs.
  // Idempotent.
  void Shutdown();
  const CCancelToken& Cancel() const { return cancel_; }

 private:
  // Ends the session shown (final conversations, final pass) and shows a
  // new one of `kind` reading `source`.
  void NewSession(CSessionClock::EKind kind, CCaptureSession::CSource source = {});

  const CSessionClock::WallClock wall_;
  CNotificationQueue notifications_;
  CCancelToken cancel_;
  CCaptureSwitches switches_;
  CActiveFilterRules filters_;
  std::vector<std::unique_ptr<CInterfaceRecord>> interfaces_;
  CLogService logs_;
  CFlowExportService flows_;
  CHostNameService names_;  // before the sessions, which refer to it
  CServiceLatencyService services_;
  // The programs behind live sessions' sockets: made at the first live
  // trace, used by capture threads, outlives them (capture_ is below).
  std::unique_ptr<CSocketOwnerCache> processes_;

  mutable std::mutex sessionMutex_;  // guards the pointer only
  std::shared_ptr<CCaptureSession> session_;
  int lastSessionId_ = 0;

  CCaptureController capture_;
  CReplayRunner replay_;
  bool shutDown_ = false;
  CEngineTimer timer_;  // last: it runs while everything above exists
};
