#pragma once
#include <cstddef>
#include <vector>

#include "engine/capture_session.h"
#include "processes/socket_key.h"
#include "processes/socket_owner_news.h"

class CSocketOwnerCache;

// Gives a live trace's conversations the programs that own their sockets.
// After a packet is recorded, a conversation the session has not asked about
// yet is asked about once (the local socket, and the other end's when both
// ends are on this host); what the cache knows already is set at once, the
// rest waits here until its answer lands. Answers are applied to the session
// in one short traffic-lock hold per batch, never while the cache is asked.
//
// The capture thread's alone: the cache's asking thread is this one.
class CProcessTagger {
 public:
  CProcessTagger(CCaptureSession& session, CSocketOwnerCache& cache);

  // After `fields` were recorded as `recorded`.
  void Ask(const CPacketFields& fields, const CRecordedPacket& recorded, bool bothEndsLocal);
  // Applies the answers that landed since; cheap when none did.
  void Land();
  // At the end of a trace: waits at most `ms` for the answers still out.
  void Drain(int ms);

  // The most conversations that wait for an answer; the oldest give way.
  static constexpr std::size_t kMaxWaiting = 65536;

 private:
  struct CWaiting {
    CSocketKey key;
    int convId = 0;
    bool peer = false;
    CTimeStamp first;
  };
  void Want(const CSocketKey& key, int convId, bool peer, CTimeStamp first);
  void Apply();

  CCaptureSession& session_;
  CSocketOwnerCache& cache_;
  std::vector<CWaiting> waiting_;
  std::vector<CSocketOwnerNews> landed_;
  std::vector<COwnerUpdate> updates_;
};
