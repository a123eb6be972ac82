#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/capture_stats.h"

class CAppState;
class CInterfaceRecord;
struct pcap;

// Starts and stops live traces. A trace is one capture thread that opens the
// selected interface, reads frames and hands the IPv4 ones to the decoder.
//
// Start, Stop, EnumerateInterfaces and SetEndedListener belong to the
// user-interface thread (or whichever single thread owns the controller);
// IsCapturing, TraceId, Stats and RunningFlag may be read from any thread.
// None of them takes the traffic lock; Stop must not be called while the
// caller holds it (the capture thread may be waiting for it).
class CCaptureController {
 public:
  // The read time-out: the longest a capture thread waits for a frame before
  // it looks at its stop flags again.
  static constexpr int kReadTimeoutMs = 1000;
  static constexpr int kSnapshotLength = 65536;
  static constexpr int kBufferBytes = 32 << 20;

  explicit CCaptureController(CAppState& state);
  // Stops the trace.
  virtual ~CCaptureController();

  CCaptureController(const CCaptureController&) = delete;
  CCaptureController& operator=(const CCaptureController&) = delete;

  // Stops any running trace, then starts one on the interface at the state's
  // interface index and makes it the selected interface. With no interface
  // selected, or an index outside the list, nothing is started.
  void Start();

  // Ends the trace: no frame that arrives afterwards reaches the model. Waits
  // for the capture thread, which takes at most about one read time-out.
  // Also releases a thread that already ended by itself. Idle: nothing.
  void Stop();

  // Fills the state's interface list from the capture library (once, at
  // start-up, before any trace).
  void EnumerateInterfaces();

  // True from Start until Stop, or until the trace ends by itself: the
  // device could not be opened, failed while capturing, or the program is
  // quitting. A trace that ended by itself has posted its reason.
  bool IsCapturing() const { return capturing_.load() != 0; }

  // Counts the traces started; the listener receives the id of its trace so
  // that news of an old trace can be told from the current one.
  int TraceId() const { return traceId_.load(); }

  // The current (or last) trace's counters.
  CCaptureStats Stats() const;

  // 1 from Start until Stop; the decoder drops every frame while it is 0.
  const std::atomic<int>& RunningFlag() const { return running_; }

  // Called on the capture thread, with the trace id, when a trace ends by
  // itself. It must only schedule work for another thread (a queued call):
  // it must not call Stop, SetEndedListener or wait for the user interface.
  // Any time, any thread: once this returns, the old listener is neither
  // running nor called again.
  void SetEndedListener(std::function<void(int traceId)> listener);

 private:
  static int CaptureThreadProc(CCaptureController* controller,
                               const CInterfaceRecord* device, int traceId);
  // The capture loop on an open handle; returns when the trace should end.
  void ReadFrames(pcap* handle, const CInterfaceRecord& device);
  void UpdateKernelStats(pcap* handle);
  void EndedByItself(int traceId);

  CAppState& state_;
  std::thread thread_;
  std::atomic<int> running_{0};
  std::atomic<int> capturing_{0};
  std::atomic<int> traceId_{0};

  // Held while the listener runs, so that replacing it waits for a call in
  // progress.
  std::mutex listenerMutex_;
  std::function<void(int)> endedListener_;

  // Guards handle_, so that Stop can break the capture loop while the
  // capture thread may be opening or closing the device.
  std::mutex handleMutex_;
  pcap* handle_ = nullptr;

  std::atomic<uint64_t> framesSeen_{0};
  std::atomic<uint64_t> framesRecorded_{0};
  std::atomic<uint64_t> kernelDrops_{0};
  std::atomic<uint64_t> interfaceDrops_{0};
};
