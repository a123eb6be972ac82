#include "engine/process_tagger.h"

#include <chrono>
#include <thread>

#include "processes/socket_owner_cache.h"

CProcessTagger::CProcessTagger(CCaptureSession& session, CSocketOwnerCache& cache)
    : session_(session), cache_(cache) {}

void CProcessTagger::Ask(const CPacketFields& f, const CRecordedPacket& recorded, bool bothEndsLocal) {
  const uint8_t protocol = static_cast<uint8_t>(f.protocol);
  Want(CSocketKey{protocol, f.local, f.localPort, f.remote, f.remotePort}, recorded.convId, false,
       recorded.first);
  if (bothEndsLocal)
    Want(CSocketKey{protocol, f.remote, f.remotePort, f.local, f.localPort}, recorded.convId, true,
         recorded.first);
  Apply();
}

void CProcessTagger::Want(const CSocketKey& key, int convId, bool peer, CTimeStamp first) {
  const CProcessOwner owner = cache_.Peek(key, first);
  if (owner.state != EOwnerState::kPending) {
    updates_.push_back({convId, peer, owner});
    return;
  }
  if (waiting_.size() >= kMaxWaiting) waiting_.erase(waiting_.begin());
  waiting_.push_back({key, convId, peer, first});
}

void CProcessTagger::Land() {
  if (cache_.Collect(landed_) == 0) return;
  for (const CSocketOwnerNews& news : landed_) {
    std::erase_if(waiting_, [&](const CWaiting& w) {
      if (!(w.key == news.key) || !news.Covers(w.first)) return false;
      updates_.push_back({w.convId, w.peer, news.owner});
      return true;
    });
  }
  landed_.clear();
  Apply();
}

void CProcessTagger::Drain(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  Land();
  while (!waiting_.empty() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Land();
  }
}

void CProcessTagger::Apply() {
  if (updates_.empty()) return;
  session_.SetOwners(updates_);
  updates_.clear();
}
