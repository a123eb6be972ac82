#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/capture_file_replay.h"
#include "engine/interface_record.h"

class CCaptureSession;
class CLogService;

// Replays one capture file into a session on a thread of its own, so the
// window stays responsive and the pages can watch the model fill. At the
// end of the file (or when stopped) every conversation becomes final and the
// log service writes its final pass.
//
// Start, Stop and IsRunning belong to one owning thread (the user-interface
// thread); `done` runs on the replay thread when the replay is over and
// must only queue work for another thread.
class CReplayRunner {
 public:
  // The log service must outlive the runner.
  explicit CReplayRunner(CLogService& logs) : logs_(logs) {}
  // Stops and joins.
  ~CReplayRunner();

  CReplayRunner(const CReplayRunner&) = delete;
  CReplayRunner& operator=(const CReplayRunner&) = delete;

  // Stops a replay in progress, then replays `input` into `session` with
  // `local` as the local host's addresses. The replay thread owns the input
  // until it ends.
  void Start(std::shared_ptr<CCaptureSession> session, std::unique_ptr<CCaptureInput> input,
             std::vector<CIpAddr> local, std::function<void(const CReplayResult&)> done);
  // Asks the replay to end before its next frame and waits for it.
  void Stop();
  bool IsRunning() const { return running_.load(); }

 private:
  CLogService& logs_;
  CInterfaceRecord local_;
  std::atomic<bool> keepGoing_{false};
  std::atomic<bool> running_{false};
  std::thread thread_;
};
