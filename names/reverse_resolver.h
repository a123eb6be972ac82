#pragma once
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "names/dns_answer_reader.h"
#include "names/reverse_lookup_queue.h"
#include "wire/ip_address.h"

class CNameCache;
struct ares_channeldata;

// Reverse lookups (PTR records) on a thread of its own, through c-ares,
// never on the capture path. Names found go into the cache as
// kReverseLookup for the PTR record's TTL; see CReverseLookupQueue for which
// addresses are asked and when.
//
// Off until Start, and off again after Stop: Ask then does nothing, no
// socket is open and no query is sent. The program's switch for reverse
// lookups decides whether Start is ever called; tests of other parts leave
// it off.
//
// Start, Stop and the destructor belong to one owning thread (the one that
// created the resolver), which must hold no traffic lock while calling Stop
// or the destructor. Ask may be called from any thread, with the traffic
// lock held: it never blocks on I/O (see Ask). The cache must outlive the
// resolver.
class CReverseResolver {
 public:
  // Names are kept at least this long whatever their TTL says, so that a
  // PTR record with a TTL of 0 does not bring a query every time the
  // address is asked for.
  static constexpr std::chrono::seconds kMinimumNameTtl{60};

  struct COptions {
    // "host:port,..." as ares_set_servers_ports_csv takes it; empty: the
    // servers of /etc/resolv.conf.
    std::string servers;
    int timeoutMs = 2000;  // per try
    int tries = 2;
    CReverseLookupQueue::COptions queue;
  };

  CReverseResolver(CNameCache& cache, COptions options);
  ~CReverseResolver();

  CReverseResolver(const CReverseResolver&) = delete;
  CReverseResolver& operator=(const CReverseResolver&) = delete;

  // Starts the lookup thread. False, with the reason in `error`, when the
  // resolver library cannot be set up; the resolver then stays off.
  // Already running: true.
  bool Start(std::string& error);

  // Ends the lookup thread; lookups in flight are abandoned. Returns within
  // one poll wake-up. Stopped: nothing.
  void Stop();

  bool Running() const { return running_.load(); }

  // Asks for the name of `address` unless the resolver is off, the cache
  // already names it, it is pending, or it failed lately. Cost: a cache
  // look-up and a queue insert under two short mutexes, taken one after
  // the other; when the queue was empty, one eventfd write to wake the
  // lookup thread.
  void Ask(const CIpAddr& address);

  // Lookups being asked now, for display and tests.
  std::size_t InFlight() const { return queue_.InFlight(); }

 private:
  struct CQuery;
  static void OnAnswer(void* query, int status, int timeouts, unsigned char* answer, int length);
  void Run();
  void SendWaiting();
  // Waits for a socket, the wake-up or the next library time-out, then lets
  // the library process what came.
  void WaitAndProcess();
  void Answered(const CIpAddr& address, int status, const unsigned char* answer, int length);

  CNameCache& cache_;
  const COptions options_;
  CReverseLookupQueue queue_;
  CDnsAnswerReader reader_;  // lookup thread only
  std::atomic<bool> running_{false};
  int wake_ = -1;  // eventfd, open for the resolver's whole life
  ares_channeldata* channel_ = nullptr;
  std::thread thread_;
};
