#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "processes/process_owner.h"
#include "processes/recent_socket_owners.h"
#include "processes/socket_key.h"
#include "processes/socket_owner_news.h"
#include "processes/spsc_ring.h"
#include "wire/time_stamp.h"

class CProcSocketScanner;
class CSocketTableReader;

// Which process owns each conversation's local socket: PID and name.
//
// Two threads. The asking thread (the capture thread) calls Peek and
// Collect: they never block, never take a lock and never make a system
// call except to wake the look-up thread after it went idle; they may be
// called with the traffic lock held. The look-up thread, started by the
// constructor, reads the socket table and /proc (and the kernel tracer's
// records) for the keys asked about, about every 10 ms at most, and
// re-reads the table about once a second to notice closed sockets. It never
// touches the traffic lock.
//
// The cache remembers answers per key (protocol, both addresses, both
// ports). An answer about a socket that has since closed holds only for
// conversations that began before it closed; a later conversation on the
// same key is asked about anew.
//
// Construct on a thread in the traced interface's network namespace: the
// look-up thread reads that namespace's socket table.
class CSocketOwnerCache {
 public:
  struct COptions {
    // The least time between two look-ups; the keys asked about meanwhile
    // go into the next one together.
    std::chrono::milliseconds batchWindow{10};
    // How often the sockets answered for are checked for closing.
    std::chrono::milliseconds refreshPeriod{1000};
  };

  // Where answers come from, used on the look-up thread only. `tracer`
  // may be null (the kernel tracer could not start: `tracerWhyNot` says why).
  struct CSources {
    std::unique_ptr<CSocketTableReader> table;
    std::unique_ptr<CProcSocketScanner> scanner;
    std::unique_ptr<CRecentSocketOwners> tracer;
    std::string tracerWhyNot = "the kernel tracer is switched off";
    uint32_t ourUid = 0;
    bool otherUsersReadable = true;  // the scanner may read every process
  };

  // What the look-up can do here, for a status line.
  struct CStatus {
    bool shortLivedNamed = false;     // the kernel tracer runs
    bool otherUsersNamed = false;     // other users' processes can be read
    std::string text;                 // empty when nothing is missing
  };

  CSocketOwnerCache(CSources sources, COptions options);
  // Netlink socket table, /proc, and the eBPF tracer where it can run and
  // `tryTracer` is set (it is loaded here, on the calling thread).
  static std::unique_ptr<CSocketOwnerCache> ForThisHost(bool tryTracer, COptions options);
  // Stops the look-up thread. No thread may be in Peek or Collect.
  ~CSocketOwnerCache();

  CSocketOwnerCache(const CSocketOwnerCache&) = delete;
  CSocketOwnerCache& operator=(const CSocketOwnerCache&) = delete;

  // Asking thread. What is known now about the process of the conversation
  // on `key` that began at `firstSeen` (its first packet's time stamp). A
  // key never asked about, or whose socket closed before `firstSeen`, is
  // queued for a look-up and answers kPending; its answer arrives through
  // Collect.
  CProcessOwner Peek(const CSocketKey& key, CTimeStamp firstSeen);

  // Asking thread. Appends to `landed` the answers that arrived since the
  // last call (hasAnswer set; apply each to the pending conversation on its
  // key when news.Covers(that conversation's first time)). Returns how many.
  // Cheap when nothing arrived: one atomic load.
  std::size_t Collect(std::vector<CSocketOwnerNews>& landed);

  // Any thread; fixed from construction on.
  const CStatus& Status() const { return status_; }

  static constexpr std::size_t kRingSlots = 4096;
  static constexpr std::size_t kSweepAbove = 8192;    // entries before closed ones are dropped
  static constexpr int64_t kKeepClosedMicros = 60'000'000;

 private:
  struct CEntry {
    CProcessOwner owner;
    bool closed = false;
    int64_t closedAtMicros = 0;
    int64_t latestAskMicros = 0;  // newest conversation start asked about
  };

  void Ask(const CSocketKey& key);
  void WakeIfIdle();
  void Sweep();
  void Run();
  // Look-up thread: waits for a request, the stop flag or `timeout` (-1: none).
  void Sleep(int timeoutMs);

  CSources sources_;
  COptions options_;

  // Asking thread only.
  std::unordered_map<CSocketKey, CEntry, CSocketKeyHash> entries_;
  std::vector<CSocketKey> overflow_;  // requests that found the ring full
  int64_t latestAskMicros_ = 0;
  int64_t lastSweepMicros_ = 0;

  CSpscRing<CSocketKey, kRingSlots> requests_;       // asking -> look-up
  CSpscRing<CSocketOwnerNews, kRingSlots> news_;     // look-up -> asking
  std::atomic<bool> lookupIdle_{false};
  std::atomic<bool> stop_{false};
  int wakeFd_ = -1;  // eventfd

  CStatus status_;

  std::thread thread_;
};
