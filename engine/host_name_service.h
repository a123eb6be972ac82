#pragma once
#include <atomic>
#include <string>

#include "names/dns_answer_reader.h"
#include "names/name_cache.h"
#include "names/reverse_resolver.h"
#include "wire/ip_address.h"

class CCaptureSession;
class CNotificationSink;

// The host names of the session shown, for every session the engine makes:
// what the trace's DNS answers and connections said (passed in by the
// recording thread's CPacketNameReader), and, for live sessions while the
// switch is on, what reverse lookups found. Each new session starts with no
// names: a replayed file's names are the file's own.
//
// Trust, highest first: a DNS answer seen in the trace, the name a
// connection to the host carried, a reverse lookup. A conversation's own
// connection name stands above all three for that conversation (the
// session keeps it on the conversation). Names seen in the trace last for
// the session, whatever the record's TTL: they say what the programs asked
// for when they connected, and a replay's TTLs ran out long ago. Reverse
// lookups keep their TTL and are asked again once it runs out.
//
// SetReverseLookups, Attach and Stop belong to the engine's owning thread,
// with no traffic lock held. The rest may be called from any thread: they
// take the cache's and the lookup queue's short mutexes, never the traffic
// lock, and never wait for the network.
class CHostNameService {
 public:
  explicit CHostNameService(CNotificationSink& sink);
  ~CHostNameService();
  CHostNameService(const CHostNameService&) = delete;
  CHostNameService& operator=(const CHostNameService&) = delete;

  // Reverse lookups for live sessions; off until switched on, never for
  // replays.
  void SetReverseLookups(bool on);
  bool ReverseLookups() const { return wanted_; }
  // True while the lookup thread runs.
  bool Resolving() const { return resolver_.Running(); }

  // `session` is the one shown from now on; nothing records into it yet.
  void Attach(CCaptureSession& session);
  // Ends the lookups. Idempotent.
  void Stop();

  // From the trace, recording thread.
  void Learn(const CDnsAnswer& answer);
  void LearnConnection(const CIpAddr& remote, const std::string& name);
  // A host the session had not counted yet: asked at once, so that its
  // name is there when it is first shown.
  void HostSeen(const CIpAddr& address);

  // The best name of `address`, or empty. An unnamed address is asked for
  // (when lookups run), so that a name whose TTL ran out comes back.
  std::string NameOf(const CIpAddr& address);

 private:
  // Runs the lookup thread exactly while a live session is shown and the
  // switch is on.
  void Apply();

  CNotificationSink& sink_;
  CNameCache cache_;
  CReverseResolver resolver_;
  bool wanted_ = false;
  bool live_ = false;
  std::string lastError_;  // told once, not at every start
};
