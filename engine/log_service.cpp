#include "engine/log_service.h"

#include <cerrno>
#include <new>

#include "engine/capture_session.h"
#include "engine/notification_sink.h"
#include "output/csv_row.h"
#include "output/log_text.h"
#include "output/output_file.h"

namespace {

// Open conversations are written early once idle this long, or sooner once
// they have traffic both ways; only the newest ones may wait at all.
constexpr int64_t kIdleSeconds = 30;
constexpr int64_t kAnsweredIdleSeconds = 5;
constexpr std::size_t kPendingNewest = 40;

// What a queued item costs besides its payload, roughly: the queues are
// bounded in bytes of memory, not in items.
constexpr std::size_t kEntryOverhead = 256;

bool IsDue(const CConversation& c, bool force, int64_t now, std::size_t newer) {
  if (force) return true;
  const int64_t idle = now - c.times[CConversation::kLastTime].sec;
  if (idle > kIdleSeconds) return true;
  if (c.bytesReceived > 0 && c.bytesSent > 0 && idle > kAnsweredIdleSeconds) return true;
  return newer > kPendingNewest;
}

}  // namespace

CLogService::CLogService(CNotificationSink& sink) : sink_(sink) {}

CLogService::~CLogService() = default;

void CLogService::SetOptions(const CLogOptions& options) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (options.enabled && !options_.enabled) {
    // A new start: new files, and the pass clock starts again.
    statsFile_.clear();
    traceFile_.clear();
    traceStamp_ = 0;
    lastFlush_.store(0);
    failed_.store(false);
  }
  options_ = options;
  UpdateActive();
}

CLogOptions CLogService::Options() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return options_;
}

void CLogService::UpdateActive() {
  active_.store(options_.enabled && (options_.stats || options_.data));
}

void CLogService::Attach(const std::shared_ptr<CCaptureSession>& session) {
  // Whatever the previous session queued belongs in its own files.
  Pass(ELogPass::kDrain);
  std::lock_guard<std::mutex> pass(passMutex_);
  const int id = session->Id();
  session->AddFinalConsumer([this, id](const CConversationSnapshot& s) { OnFinal(id, s); },
                            [this] { return active_.load(std::memory_order_relaxed); });
  session->SetRecordTap([this, id](const CPacketRecord& r) { OnRecord(id, r); });
  std::lock_guard<std::mutex> lock(mutex_);
  session_ = session;
  sessionId_ = id;
  statsFile_.clear();
  traceFile_.clear();
  traceStamp_ = 0;
  finals_.clear();
  trace_.clear();
  statsBytes_ = traceBytes_ = 0;
  pendingGap_ = 0;
  writtenEarly_.clear();
  // A live session's pass clock starts now; a replay's at its first frame.
  lastFlush_.store(session->Clock().Kind() == CSessionClock::EKind::kWall ? session->Clock().Now() : 0);
  queuedBytes_.store(0);
  packetsNotWritten_.store(0);
  rowsNotWritten_.store(0);
  failed_.store(false);
}

void CLogService::OnFinal(int sessionId, const CConversationSnapshot& s) {
  if (!active_.load(std::memory_order_relaxed)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (sessionId != sessionId_ || !options_.stats) return;
  // Written early: its row stands already.
  if (writtenEarly_.erase(s.convId) > 0) return;
  if (statsBytes_ + sizeof s > kQueueBytes) {
    rowsNotWritten_.fetch_add(1);
    return;
  }
  try {
    finals_.push_back(s);
  } catch (const std::bad_alloc&) {
    rowsNotWritten_.fetch_add(1);
    return;
  }
  statsBytes_ += sizeof s;
  queuedBytes_.fetch_add(sizeof s);
}

void CLogService::OnRecord(int sessionId, const CPacketRecord& r) {
  if (!active_.load(std::memory_order_relaxed)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (sessionId != sessionId_ || !options_.data) return;
  const std::size_t bytes = r.Payload().size() + kEntryOverhead;
  if (traceBytes_ + bytes > kQueueBytes) {
    ++pendingGap_;
    packetsNotWritten_.fetch_add(1);
    return;
  }
  try {
    trace_.push_back({CopyPacketRecord(r), pendingGap_});
  } catch (const std::bad_alloc&) {
    ++pendingGap_;
    packetsNotWritten_.fetch_add(1);
    return;
  }
  pendingGap_ = 0;
  traceBytes_ += bytes;
  queuedBytes_.fetch_add(bytes);
}

bool CLogService::DueNow(ELogPass kind, int64_t now) {
  if (kind != ELogPass::kNormal) return kind == ELogPass::kFinal;
  const int64_t last = lastFlush_.load();
  if (last == 0) {
    lastFlush_.store(now);
    return false;
  }
  if (now - last <= kPassInterval) return false;
  lastFlush_.store(now);
  return true;
}

void CLogService::CollectDue(const CCaptureSession& session, bool force, int64_t now,
                             std::vector<CConversationSnapshot>& due) {
  session.WithModel([&](const CTrafficModel& model) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& conversations = model.conversations.Conversations();
    const std::size_t n = conversations.size();
    for (std::size_t i = 0; i < n; ++i) {
      const CConversation& c = *conversations[i];
      // A final conversation reached the queue when it became final.
      if (c.closed || writtenEarly_.count(c.convId) > 0 || !IsDue(c, force, now, n - i)) continue;
      due.push_back(c.Snapshot());
      writtenEarly_.insert(c.convId);
    }
  });
}

void CLogService::Pass(ELogPass kind) {
  std::lock_guard<std::mutex> pass(passMutex_);
  std::shared_ptr<CCaptureSession> session;
  CLogOptions o;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session = session_;
    o = options_;
  }
  if (session == nullptr || !o.enabled) return;
  const int64_t now = session->Clock().Now();
  std::vector<CConversationSnapshot> rows;
  const bool due = DueNow(kind, now);
  if (due && o.stats) CollectDue(*session, kind == ELogPass::kFinal, now, rows);
  std::deque<CTraceEntry> trace;
  uint64_t gapAfter = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Rows that became final before this pass stand before the open ones it
    // found due.
    rows.insert(rows.begin(), finals_.begin(), finals_.end());
    finals_.clear();
    trace.swap(trace_);
    // Packets dropped after the last queued one are marked at the end of a
    // final pass, since no later packet will carry them.
    if (kind == ELogPass::kFinal) std::swap(gapAfter, pendingGap_);
    queuedBytes_.store(0);
    statsBytes_ = traceBytes_ = 0;
  }
  Write(o, now, due, rows, trace, gapAfter);
}

void CLogService::Tick() {
  if (!active_.load(std::memory_order_relaxed)) return;
  std::shared_ptr<CCaptureSession> session;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session = session_;
  }
  if (session == nullptr) return;
  Pass(session->Clock().Kind() == CSessionClock::EKind::kWall ? ELogPass::kNormal
                                                              : ELogPass::kDrain);
}

void CLogService::AfterFrame(const CSessionClock& clock, bool recorded) {
  if (!active_.load(std::memory_order_relaxed)) return;
  const int64_t now = clock.Now();
  const int64_t last = lastFlush_.load(std::memory_order_relaxed);
  if (last == 0) {
    // The first frame starts the replay's pass clock.
    lastFlush_.store(now, std::memory_order_relaxed);
  } else if (recorded && now - last > kPassInterval) {
    Pass(ELogPass::kNormal);
  } else if (queuedBytes_.load(std::memory_order_relaxed) > kDrainBytes) {
    Pass(ELogPass::kDrain);
  }
}

bool CLogService::Open(const CLogOptions& o, const char* prefix, int64_t stamp, std::string& name,
                       bool& created) {
  created = false;
  if (!name.empty()) return true;
  // A new session never appends to an older session's log, whose name its
  // stamp may share.
  COutputFile probe;
  for (int n = 1; n < 1000; ++n) {
    const std::string candidate =
        LogFileName(o.dir, prefix, stamp, n == 1 ? "" : "-" + std::to_string(n));
    if (probe.Open(candidate, COutputFile::Mode::kCreate)) {
      name = candidate;
      created = true;
      std::lock_guard<std::mutex> lock(mutex_);
      (prefix[0] == 's' ? statsFile_ : traceFile_) = candidate;
      return true;
    }
    if (probe.LastError() != EEXIST) break;
  }
  SwitchOff("Could not open file: " + LogFileName(o.dir, prefix, stamp) + ": " + probe.Reason());
  return false;
}

void CLogService::SwitchOff(const std::string& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!options_.enabled) return;
    options_.enabled = false;
    UpdateActive();
  }
  failed_.store(true);
  // A log that silently stops growing would pass for a quiet network.
  sink_.Post(message);
}

void CLogService::Write(const CLogOptions& o, int64_t now, bool due,
                        const std::vector<CConversationSnapshot>& rows,
                        const std::deque<CTraceEntry>& trace, uint64_t gapAfter) {
  std::string statsName, traceName;
  int64_t traceStamp = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    statsName = statsFile_;
    traceName = traceFile_;
    // The trace log is named by the first pass that could have written it,
    // and made when it first has something to hold.
    if (o.data && due && traceStamp_ == 0) traceStamp_ = now;
    traceStamp = traceStamp_;
  }
  // A due pass makes the statistics log even when it has no row yet.
  if (o.stats && (due || !rows.empty())) {
    bool created = false;
    if (!Open(o, "stats", now, statsName, created)) return;
    COutputFile file;
    if (!file.Open(statsName, COutputFile::Mode::kAppend)) {
      SwitchOff("Could not open file: " + statsName + ": " + file.Reason());
      return;
    }
    bool ok = !created || file.Write(kStatsLogHeader);
    for (std::size_t i = 0; ok && i < rows.size(); ++i) {
      std::string row;
      try {
        row = ConversationCsvRow(rows[i]);
      } catch (const std::bad_alloc&) {
        row = kLogRenderError;
      }
      ok = file.Write(row);
    }
    if (!ok) {
      SwitchOff("Could not write file: " + statsName + ": " + file.Reason());
      return;
    }
  }
  if (o.data && (!trace.empty() || gapAfter > 0)) {
    bool created = false;
    if (!Open(o, "trace", traceStamp != 0 ? traceStamp : now, traceName, created)) return;
    COutputFile file;
    if (!file.Open(traceName, COutputFile::Mode::kAppend)) {
      SwitchOff("Could not open file: " + traceName + ": " + file.Reason());
      return;
    }
    std::string text;
    bool ok = true;
    for (std::size_t i = 0; ok && i < trace.size(); ++i) {
      text.clear();
      try {
        if (trace[i].gapBefore > 0) text += TraceGapText(trace[i].gapBefore);
        AppendTraceText(text, *trace[i].record, o.hex);
      } catch (const std::bad_alloc&) {
        text = kLogRenderError;
      }
      ok = file.Write(text);
    }
    if (ok && gapAfter > 0) ok = file.Write(TraceGapText(gapAfter));
    if (!ok) SwitchOff("Could not write file: " + traceName + ": " + file.Reason());
  }
}
