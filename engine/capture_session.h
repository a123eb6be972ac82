#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/capture_options.h"
#include "engine/notification_sink.h"
#include "engine/session_clock.h"
#include "filters/active_filter_rules.h"
#include "model/cancel_token.h"
#include "model/graph_series.h"
#include "model/time_range.h"
#include "model/traffic_model.h"
#include "output/conversation_export.h"

class CHostNameService;
class CSocketOwnerCache;

// What the Host Stats list shows of one host.
struct CHostSummary {
  CIpAddr address;
  uint64_t bytesSent = 0;
  uint64_t bytesReceived = 0;
  uint64_t packetsSent = 0;
  uint64_t packetsReceived = 0;
  CTimeStamp lastTime;
  std::size_t ports = 0;
  std::string name;  // empty while unknown
  // The program that moved the most bytes to or from it; empty: none known.
  std::string topProcess;

  friend bool operator==(const CHostSummary&, const CHostSummary&) = default;
};

// One program's traffic: the conversations of the table whose socket it
// owned (either end, when both are on this host), added up by program name
// (200 runs of one client are one program).
struct CProcessSummary {
  std::string name;
  std::vector<int32_t> pids;  // ascending
  uint64_t bytesSent = 0;
  uint64_t bytesReceived = 0;
  uint64_t packetsSent = 0;
  uint64_t packetsReceived = 0;

  friend bool operator==(const CProcessSummary&, const CProcessSummary&) = default;
};

// What Record tells the recording thread about its packet's conversation.
struct CRecordedPacket {
  int convId = 0;
  bool askOwner = false;  // the session names programs and this one was not asked for yet
  CTimeStamp first;       // the conversation's first packet
};

// The program of one conversation's local end, or (`peer`) of its other
// end when both are on this host.
struct COwnerUpdate {
  int convId = 0;
  bool peer = false;
  CProcessOwner owner;
};

// The hosts as a refresh found them. `generation` counts the Clears of the
// host table: a page drops a copy taken before its own Clear.
struct CHostsView {
  uint64_t generation = 0;
  std::vector<CHostSummary> hosts;  // address order: IPv4 first
};

// The payload the session's packet records hold against the memory limit.
struct CPayloadStats {
  uint64_t held = 0;       // bytes held by the kept records
  uint64_t released = 0;   // bytes let go to stay within the limit
  uint64_t notStored = 0;  // packets whose record or payload found no memory
};

// One row of the Conversations list as raw values; the pages format them.
struct CConversationRowData {
  CExportRow row;
  CConversationSnapshot conversation;
  // The remote end's name: the one its connection carried, else the
  // host's; empty while unknown.
  std::string name;
};

// One trace or one replay: the traffic model with its lock, the session's
// clock, and the hooks through which the log service (and later consumers)
// learn of finished conversations and recorded packets.
//
// The traffic lock is the session's own and private: callers use the
// methods below, each of which takes it for as short as it can, copying
// what it returns. No method may be called with the lock held (the hooks
// run with it held and must not call back).
class CCaptureSession {
 public:
  // Told once per session when memory runs out for a packet.
  static constexpr const char* kNotStoredMessage =
      "Memory ran out: packets are no longer stored in full. Lower the memory limit.";

  using FinalConsumer = std::function<void(const CConversationSnapshot&)>;
  // Whether a consumer reads finals now (any thread, cheap: an atomic).
  using FinalInterest = std::function<bool()>;
  using RecordTap = std::function<void(const CPacketRecord&)>;

  // `switches`, `filters` and `cancel` belong to the engine and must outlive
  // the session. `id` tags what the session hands out, so that values of an
  // older session can be told apart.
  CCaptureSession(int id, CSessionClock::EKind clock, const CCaptureSwitches& switches,
                  const CActiveFilterRules& filters, const CCancelToken& cancel,
                  CSessionClock::WallClock wall = &CSessionClock::SystemSeconds);

  // What a replay's session reads and who the local host is in it; set once
  // before the session is shown to anyone.
  struct CSource {
    std::string file;  // empty for a live session
    std::vector<CIpAddr> local;
  };
  void SetSource(CSource source) { source_ = std::move(source); }
  const CSource& Source() const { return source_; }

  CCaptureSession(const CCaptureSession&) = delete;
  CCaptureSession& operator=(const CCaptureSession&) = delete;

  int Id() const { return id_; }
  CSessionClock& Clock() { return clock_; }
  const CSessionClock& Clock() const { return clock_; }
  const CCaptureSwitches& Switches() const { return switches_; }
  const CActiveFilterRules& Filters() const { return filters_; }
  const CCancelToken& Cancel() const { return cancel_; }

  // Set-up, before any packet is recorded. Each finished conversation is
  // handed to every consumer in turn, and every recorded packet to the tap,
  // on the recording thread with the traffic lock held: they must only copy.
  // A consumer with an `interest` is skipped while it says no, and no
  // snapshot is made while every consumer says no.
  void AddFinalConsumer(FinalConsumer consumer, FinalInterest interest = {});
  void SetRecordTap(RecordTap tap);
  // The host names of this session (set up by the engine before any
  // packet); null: no names. It must outlive the session.
  void SetNames(CHostNameService* names) { names_ = names; }
  CHostNameService* Names() const { return names_; }

  // Where kNotStoredMessage goes; must outlive the session.
  void SetNotificationSink(CNotificationSink* sink) { sink_ = sink; }

  // The recording thread (capture or replay): records one decoded packet
  // with the switches and the memory limit in force; `remoteName`, when
  // given, names its conversation unless that has a name already. Throws
  // std::bad_alloc when memory runs out for the record (what was counted
  // before stays); either way a packet that found no memory is counted as
  // not stored and the user is told, once.
  CRecordedPacket Record(const CPacketFields& fields, std::span<const uint8_t> payload,
                         const std::string* remoteName = nullptr);

  // The programs behind a live session's sockets (set up by the engine
  // before any packet; null in a replay, which has no process data). It
  // must outlive the recording. Used by the recording thread only.
  void SetProcessCache(CSocketOwnerCache* cache) { processes_.store(cache); }
  CSocketOwnerCache* ProcessCache() const { return processes_.load(); }
  // Recording thread: sets the programs that were found; a conversation
  // gone since is skipped.
  void SetOwners(const std::vector<COwnerUpdate>& updates);
  // Any thread: the programs of the conversations in the table, by name.
  // With a `range`, only the conversations with packets inside it count.
  std::vector<CProcessSummary> Processes(const std::optional<CTimeRange>& range = std::nullopt) const;

  // Makes every conversation final: at Stop, and at the end of a replay.
  void Finish();

  // Any thread. True once a packet was recorded.
  bool HoldsData() const;
  uint64_t RecordedPackets() const;
  CPayloadStats PayloadStats() const;

  // The name of a conversation's remote end: the one its connection
  // carried, else the host's; empty while unknown. Any thread.
  std::string RemoteName(const CConversationSnapshot& c) const;

  // The Conversations list as a Refresh shows it, with names; cut short
  // when the engine closes, or when `cancel` says so.
  std::vector<CConversationRowData> ConversationRows() const { return ConversationRows(cancel_); }
  std::vector<CConversationRowData> ConversationRows(const CCancelToken& cancel) const;
  // Copies of the rows whose conversations still exist, in the given order.
  std::vector<CConversationCopy> CopyRows(const std::vector<CExportRow>& rows) const;
  void ClearConversations();

  // The hosts with their names, aged first when `age` (as a Host Stats
  // refresh does). With a `range`, only the hosts with packets inside it,
  // their counters those of the range (from the graph's buckets: a range
  // older than the graph's 40 buckets finds nothing).
  CHostsView Hosts(bool age, const std::optional<CTimeRange>& range = std::nullopt);
  // Forgets every host and the recent packets; returns the new generation.
  uint64_t ClearHosts();

  // The graph up to the session clock's now.
  CGraphSeries Graph() const;

  // The live text of the newest packets, when packets were recorded since
  // `seen` (a value this returned before; 0 at first): then true, with `seen`
  // moved on. The records are copied under the lock and rendered without it.
  bool RecentPacketsText(uint64_t& seen, std::string& text) const;

  // Runs `f(model)` with the traffic lock held, for the engine's own parts
  // and the headless report; screens use the methods above.
  template <typename F>
  decltype(auto) WithModel(F&& f) const {
    std::lock_guard<std::mutex> lock(trafficLock_);
    return f(static_cast<const CTrafficModel&>(model_));
  }

 private:
  void OnFinal(const CConversationSnapshot& s);
  void NoteNotStored();  // traffic lock held
  void SetTopProcesses(std::vector<CHostSummary>& hosts) const;  // traffic lock held

  const int id_;
  CSource source_;
  CSessionClock clock_;
  const CCaptureSwitches& switches_;
  const CActiveFilterRules& filters_;
  const CCancelToken& cancel_;

  mutable std::mutex trafficLock_;
  CTrafficModel model_;
  struct CFinalConsumer {
    FinalConsumer consume;
    FinalInterest interest;
    bool Wants() const { return !interest || interest(); }
  };
  bool WantsFinals() const;
  std::vector<CFinalConsumer> finalConsumers_;
  RecordTap recordTap_;
  CNotificationSink* sink_ = nullptr;
  bool toldNotStored_ = false;
  uint64_t hostGeneration_ = 0;
  CHostNameService* names_ = nullptr;
  std::atomic<CSocketOwnerCache*> processes_{nullptr};
};
