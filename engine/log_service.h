#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "model/conversation_snapshot.h"
#include "model/packet_record.h"

class CCaptureSession;
class CNotificationSink;
class CSessionClock;

// What Log to File writes, and where.
struct CLogOptions {
  bool enabled = false;  // Log to File
  bool stats = true;     // the statistics log
  bool data = false;     // the trace log
  bool hex = false;      // the trace log's data as hex dumps
  std::string dir;       // empty: the working directory

  friend bool operator==(const CLogOptions&, const CLogOptions&) = default;
};

// The kinds of log pass.
enum class ELogPass : uint8_t {
  kNormal,  // write what is queued, and the open conversations that are due
  kFinal,   // write what is queued, and every open conversation not yet written
  kDrain,   // write what is queued
};

// The trace log and the statistics log of the attached session. Every
// conversation reaches the statistics log exactly once: early, once a pass
// finds it due (idle, answered and idle, or pushed back by newer ones), or
// at the latest when it becomes final. Every recorded packet reaches the
// trace log, through a queue bounded in bytes; what does not fit is counted
// and marked in the log where it would have stood.
//
// The session's hooks queue copies with the traffic lock held; a pass copies
// what is due under that lock, then renders and writes with no lock held.
// Passes run on the engine timer (live traces), on the replaying thread
// (replays, by the capture clock, so that a replay logs the same rows every
// time), and on the user-interface thread for the final pass. They are
// serialised among themselves; none may run with the traffic lock held.
//
// Lock order: the traffic lock, then this service's lock.
class CLogService {
 public:
  static constexpr int64_t kPassInterval = 15;       // seconds between normal passes, exceeded
  static constexpr std::size_t kQueueBytes = 64u << 20;  // bound of each queue
  static constexpr std::size_t kDrainBytes = 8u << 20;   // a replay writes once this much waits

  // Failures are posted to `sink`, which must outlive the service.
  explicit CLogService(CNotificationSink& sink);
  ~CLogService();

  CLogService(const CLogService&) = delete;
  CLogService& operator=(const CLogService&) = delete;

  // Any thread. Switching logging off does not write; run a final pass first.
  // Switching it on starts new files at the next pass.
  void SetOptions(const CLogOptions& options);
  CLogOptions Options() const;

  // Logs `session` from now on, before it records anything. What the
  // previous session left queued goes to its own files first; the new
  // session writes new files.
  void Attach(const std::shared_ptr<CCaptureSession>& session);

  void Pass(ELogPass kind);

  // The engine timer, every second: a normal pass for a live session (due
  // by its wall clock), a drain for a replay.
  void Tick();

  // The replaying thread after each frame, no lock held, with the attached
  // session's clock: a normal pass when due by the capture clock after a
  // recorded packet, a drain when the queues have grown large.
  void AfterFrame(const CSessionClock& clock, bool recorded);

  // Packets that did not fit the trace log's queue, and conversation rows
  // that did not fit the statistics log's, in this session.
  uint64_t PacketsNotWritten() const { return packetsNotWritten_.load(); }
  uint64_t RowsNotWritten() const { return rowsNotWritten_.load(); }
  // True once a file of this session could not be opened or written (then
  // logging switched itself off and said why).
  bool Failed() const { return failed_.load(); }

 private:
  struct CTraceEntry {
    CPacketRef record;      // a private copy
    uint64_t gapBefore = 0;  // packets dropped just before this one
  };
  struct CFiles;

  void OnFinal(int sessionId, const CConversationSnapshot& s);
  void OnRecord(int sessionId, const CPacketRecord& r);
  bool DueNow(ELogPass kind, int64_t now);
  void CollectDue(const CCaptureSession& session, bool force, int64_t now,
                  std::vector<CConversationSnapshot>& due);
  void Write(const CLogOptions& o, int64_t now, bool due,
             const std::vector<CConversationSnapshot>& rows,
             const std::deque<CTraceEntry>& trace, uint64_t gapAfter);
  // Makes the named log ("stats" or "trace") when `name` is empty yet.
  bool Open(const CLogOptions& o, const char* prefix, int64_t stamp, std::string& name,
            bool& created);
  void SwitchOff(const std::string& message);
  void UpdateActive();

  CNotificationSink& sink_;
  std::mutex passMutex_;  // held for a whole pass

  mutable std::mutex mutex_;  // guards everything below
  CLogOptions options_;
  std::shared_ptr<CCaptureSession> session_;
  int sessionId_ = 0;
  std::string statsFile_;  // empty until the first pass creates it
  std::string traceFile_;
  int64_t traceStamp_ = 0;  // the trace log's stamp, once a pass fixed it
  std::vector<CConversationSnapshot> finals_;
  std::deque<CTraceEntry> trace_;
  std::size_t statsBytes_ = 0;
  std::size_t traceBytes_ = 0;
  uint64_t pendingGap_ = 0;
  // Open conversations already written early; erased when they become final.
  std::unordered_set<int> writtenEarly_;

  // Read without the lock by the per-frame and per-packet checks.
  std::atomic<bool> active_{false};
  std::atomic<int64_t> lastFlush_{0};  // 0: not yet set for this session
  std::atomic<std::size_t> queuedBytes_{0};
  std::atomic<uint64_t> packetsNotWritten_{0};
  std::atomic<uint64_t> rowsNotWritten_{0};
  std::atomic<bool> failed_{false};
};
