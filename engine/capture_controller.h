#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/capture_stats.h"
#include "engine/interface_record.h"

class CFrameSaver;
class CPacketDecoder;

class CCaptureSession;
class CNotificationSink;
struct pcap;
struct pcap_pkthdr;

// Starts and stops live traces. A trace is one capture thread that opens an
// interface, reads frames and hands the IP packets to a decoder that records
// into the trace's session.
//
// Start, Stop and SetEndedListener belong to the user-interface thread (or
// whichever single thread owns the controller); IsCapturing, TraceId, Stats
// and Device may be read from any thread. None of them takes the traffic
// lock; Stop must not be called while the caller holds it (the capture
// thread may be waiting for it).
class CCaptureController {
 public:
  // The read time-out: the longest a capture thread waits for a frame before
  // it looks at its stop flags again.
  static constexpr int kReadTimeoutMs = 1000;
  static constexpr int kSnapshotLength = 65536;
  static constexpr int kBufferBytes = 32 << 20;
  // The longest a trace's end waits for the programs of its conversations.
  static constexpr int kProcessDrainMs = 300;

  // Messages (a device that cannot be opened or fails) go to `sink`, which
  // must outlive the controller.
  explicit CCaptureController(CNotificationSink& sink);
  // Stops the trace.
  ~CCaptureController();

  CCaptureController(const CCaptureController&) = delete;
  CCaptureController& operator=(const CCaptureController&) = delete;

  // Where the frames of the next traces are saved (a running trace keeps
  // what it started with); an empty path saves
  // none. `allFrames` saves every frame, otherwise only the frames the
  // trace records. Files follow the rules of the logs: created 0600, never
  // through a link; a full disk turns saving off with a message.
  struct CFrameSaving {
    std::string path;
    bool allFrames = false;
    uint64_t limitMiB = 0;  // rotate at this size; 0: one file
    unsigned keepFiles = 5;
  };
  void SetFrameSaving(CFrameSaving saving);

  // Stops any running trace, then starts one on `device` that records into
  // `session`.
  void Start(std::shared_ptr<CCaptureSession> session, const CInterfaceRecord& device);

  // Ends the trace: no frame that arrives afterwards reaches the model. Waits
  // for the capture thread, which takes at most about one read time-out.
  // Also releases a thread that already ended by itself. Idle: nothing.
  void Stop();

  // True from Start until Stop, or until the trace ends by itself: the
  // device could not be opened, failed while capturing, or the program is
  // quitting. A trace that ended by itself has posted its reason.
  bool IsCapturing() const { return capturing_.load() != 0; }

  // Counts the traces started; the listener receives the id of its trace so
  // that news of an old trace can be told from the current one.
  int TraceId() const { return traceId_.load(); }

  // The current (or last) trace's counters.
  CCaptureStats Stats() const;

  // The device of the current (or last) trace; empty before the first.
  std::string DeviceName() const;

  // Called on the capture thread, with the trace id, when a trace ends by
  // itself. It must only schedule work for another thread (a queued call):
  // it must not call Stop, SetEndedListener or wait for the user interface.
  // Any time, any thread: once this returns, the old listener is neither
  // running nor called again.
  void SetEndedListener(std::function<void(int traceId)> listener);

 private:
  void CaptureThreadProc(int traceId);
  // The capture loop on an open handle; returns when the trace should end.
  void ReadFrames(pcap* handle);
  void UpdateKernelStats(pcap* handle);
  bool RecordFrame(CPacketDecoder& decoder, int linkType, const pcap_pkthdr& header,
                   const unsigned char* data);
  void SaveFrame(CFrameSaver& saver, const pcap_pkthdr& header, const unsigned char* data);
  void EndedByItself(int traceId);
  // The saver of one trace, opened on its device's link type; null when
  // none is wanted or the file was refused (then the reason was posted).
  std::unique_ptr<CFrameSaver> OpenFrameSaver(pcap* handle);

  CNotificationSink& sink_;
  // Set by Start while no capture thread runs; read by the capture thread.
  std::shared_ptr<CCaptureSession> session_;
  CInterfaceRecord device_;
  CFrameSaving nextSaving_;  // the owner's choice
  CFrameSaving saving_;      // the running trace's copy, set while no capture thread runs
  mutable std::mutex deviceMutex_;  // guards device_ against DeviceName readers
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
  std::atomic<uint64_t> framesSaved_{0};
  std::atomic<uint64_t> framesNotSaved_{0};
};
