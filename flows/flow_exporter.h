#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "flows/collector_address.h"
#include "flows/flow_record.h"
#include "flows/ipfix_encoder.h"

struct CConversationSnapshot;

// Counters of one exporter; a plain value.
struct CFlowExportStats {
  uint64_t queued = 0;     // records waiting for the sender now
  uint64_t sent = 0;       // records in datagrams the system accepted
  uint64_t dropped = 0;    // oldest records pushed out of the full queue
  uint64_t unsent = 0;     // records whose datagram could not go out (no address,
                           // send failed twice, added after Stop, abandoned by Stop)
  uint64_t refusals = 0;   // sends answered "port unreachable" by the collector's host

  // Records that never left this program: data lost.
  uint64_t Lost() const { return dropped + unsent; }
};

// Sends finished conversations as IPFIX flow records over UDP to one
// collector, from a sender thread of its own, so that the capture path only
// ever appends to a bounded queue.
//
// The queue holds at most `queueLimit` records; when the collector is slow
// or gone the oldest are dropped and counted. A collector that is not
// listening (the system reports the port unreachable) stops nothing:
// sending goes on, and a collector that comes back receives the templates
// again within one template interval.
//
// Threads: Add and Stats from any thread, including with the traffic lock
// held (they take only the exporter's own short lock). Start, Flush and Stop
// belong to the owner; Flush and Stop wait for the sender, so they must not
// be called while holding the traffic lock.
class CFlowExporter {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  struct Options {
    CCollectorAddress collector;
    std::size_t queueLimit = 10000;
    // UDP collectors forget templates; they are sent again at least this often.
    std::chrono::seconds templateInterval{60};
    uint32_t observationDomain = 0;
    std::size_t maxMessageBytes = CIpfixEncoder::kDefaultMaxMessage;
    Clock clock;  // for the template interval; empty: steady_clock::now
  };

  // The longest Stop waits for the queue to drain when the destructor calls it.
  static constexpr std::chrono::milliseconds kDefaultStopBound{2000};

  // Throws std::runtime_error when libfixbuf lacks a standard element (a
  // broken installation).
  explicit CFlowExporter(Options options);
  // Stop(kDefaultStopBound).
  ~CFlowExporter();
  CFlowExporter(const CFlowExporter&) = delete;
  CFlowExporter& operator=(const CFlowExporter&) = delete;

  // Starts the sender thread. Records added before Start wait in the queue.
  // The collector's name, if it is one, is looked up on the sender thread.
  void Start();

  // Queues the record of one conversation that became final. Never waits
  // for the network.
  void Add(const CConversationSnapshot& snapshot);
  void Add(CFlowRecord record);

  // Waits until every record queued before the call has been sent (or given
  // up), at most `bound`. True when all went.
  bool Flush(std::chrono::milliseconds bound);

  // Flushes within `bound`, then ends the sender thread; whatever could not
  // go out by then counts as unsent, as do records added afterwards. Once
  // stopped, an exporter stays stopped. Idempotent.
  void Stop(std::chrono::milliseconds bound);

  CFlowExportStats Stats() const;

 private:
  void Run();
  void SendBatch(std::deque<CFlowRecord>& batch);
  void BeginMessage();
  void SendMessage(std::span<const uint8_t> bytes, std::size_t records);
  bool EnsureSocket();
  std::chrono::steady_clock::time_point Now() const;

  const Options options_;

  mutable std::mutex mutex_;        // guards the members down to doneCv_
  std::condition_variable workCv_;  // the queue got records, or stopping
  std::condition_variable doneCv_;  // `done_` grew
  std::deque<CFlowRecord> queue_;
  uint64_t added_ = 0;    // records ever passed to Add
  uint64_t done_ = 0;     // of those, sent, dropped or given up
  uint64_t dropped_ = 0;
  bool stopping_ = false;
  bool stopped_ = false;

  std::atomic<bool> abandon_{false};  // Stop's bound has passed: give up the rest
  std::atomic<uint64_t> sent_{0};
  std::atomic<uint64_t> unsent_{0};
  std::atomic<uint64_t> refusals_{0};

  // The sender thread's own (the owner's before Start).
  CIpfixEncoder encoder_;
  int fd_ = -1;
  bool templatesSent_ = false;
  std::chrono::steady_clock::time_point lastTemplates_{};

  std::thread sender_;
};
