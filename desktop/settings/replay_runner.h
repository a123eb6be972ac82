#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/capture_file_replay.h"
#include "engine/interface_record.h"

class CAppState;

// Replays one capture file into the traffic model on a thread of its own,
// so the window stays responsive and the pages can watch the model fill.
// Start, Stop and IsRunning belong to the user-interface thread; `done`
// runs on the replay thread when the file is finished (or stopped) and must
// only queue work for the user-interface thread.
class CReplayRunner {
 public:
  explicit CReplayRunner(CAppState& state);
  // Stops and joins.
  ~CReplayRunner();

  CReplayRunner(const CReplayRunner&) = delete;
  CReplayRunner& operator=(const CReplayRunner&) = delete;

  // Stops a replay in progress, then replays `path` with `local` as the
  // local host's addresses. The caller has stopped any live trace.
  void Start(const std::string& path, std::vector<CIpAddr> local,
             std::function<void(const CReplayResult&)> done);
  // Asks the replay to end before its next frame and waits for it.
  void Stop();
  bool IsRunning() const { return running_.load() != 0; }

 private:
  CAppState& state_;
  CInterfaceRecord local_;
  std::atomic<int> keepGoing_{0};
  std::atomic<int> running_{0};
  std::thread thread_;
};
