#include "model/conversation_table.h"

#include <algorithm>


CConversationTable::Key CConversationTable::KeyOf(const CPacketFields& r) {
  return CConversationIndex::MakeKey(r.protocol, r.remote, r.local, r.remotePort, r.localPort);
}

CConversationTable::Key CConversationTable::KeyOf(const CConversation& c) {
  return CConversationIndex::MakeKey(static_cast<uint8_t>(c.protocol), c.remote, c.local,
                                     c.remotePort, c.localPort);
}

CConversationTable::CLookAhead CConversationTable::Prefetch(const CPacketFields& f) const {
  CLookAhead ahead;
  ahead.key_ = KeyOf(f);
  newestByKey_.Prefetch(ahead.key_);
  return ahead;
}

void CConversationTable::Find(CLookAhead& ahead) const {
  ahead.newest_ = newestByKey_.Find(ahead.key_);
  ahead.found_ = true;
  const char* c = reinterpret_cast<const char*>(ahead.newest_);
  if (c == nullptr) return;
  for (std::size_t off = 0; off < sizeof(CConversation); off += 64) __builtin_prefetch(c + off, 1);
}

CConversation* CConversationTable::FindNewest(const CPacketRecord& r, const CLookAhead* ahead,
                                              CConversation::EMatch& match, bool& cancelled) {
  using EMatch = CConversation::EMatch;
  match = EMatch::kOther;
  cancelled = false;
  if (!r.laterFragment) {
    CConversation* c = ahead != nullptr && ahead->found_ ? ahead->newest_ : newestByKey_.Find(KeyOf(r));
    if (c == nullptr) return nullptr;
    MatchAndAnnounce(*c, r, match);
    return c;
  }
  // A later fragment may belong to any conversation of its addresses that
  // holds a record of its direction with its identification, so it needs
  // the full search.
  const AddressKey addresses = AddressKeyOf(r);
  auto conv = conversations_.rbegin();
  for (auto key = addressKeys_.rbegin(); key != addressKeys_.rend(); ++key, ++conv) {
    if (*key == addresses) {
      CConversation* c = conv->get();
      MatchAndAnnounce(*c, r, match);
      if (match != EMatch::kOther) return c;
    }
    if (cancel_.Cancelled()) {
      cancelled = true;
      return nullptr;
    }
  }
  return nullptr;
}

void CConversationTable::Announce(const CConversation& c) {
  if (onFinal_ && (!finalWanted_ || finalWanted_())) onFinal_(c.Snapshot());
}

void CConversationTable::MatchAndAnnounce(CConversation& c, const CPacketRecord& r,
                                          CConversation::EMatch& match) {
  const bool wasClosed = c.closed;
  match = c.Match(r);
  // The record that closes a conversation makes it final; one closed
  // earlier was announced then.
  if (!wasClosed && c.closed) Announce(c);
}

void CConversationTable::FilePacket(const CPacketRef& r, EHostRole role, const CLookAhead* ahead) {
  using EMatch = CConversation::EMatch;
  EMatch match;
  bool cancelled;
  CConversation* c = FindNewest(*r, ahead, match, cancelled);
  if (cancelled) return;  // closing down: not filed
  if (match == EMatch::kSame) {
    if (r->laterFragment) {
      r->localPort = c->localPort;
      r->remotePort = c->remotePort;
    }
    AddTo(*c, r, role);
    AttachPending(*r, *c, role);
    return;
  }

  if (r->laterFragment) {
    pending_.push_back(r);
    if (pending_.size() > kMaxPendingFragments) {
      pending_.erase(pending_.begin(),
                     pending_.begin() + (pending_.size() - kTrimmedPendingFragments));
    }
    return;
  }
  auto conv = std::make_unique<CConversation>(++lastConvId_, role);
  if (match == EMatch::kNewExchange) {
    // The same socket goes on: its name and its program carry over.
    conv->remoteName = c->remoteName;
    conv->process = c->process;
    conv->peerProcess = c->peerProcess;
  }
  AddTo(*conv, r, role);
  CConversation* created = conv.get();
  conversations_.push_back(std::move(conv));
  addressKeys_.push_back(AddressKeyOf(*r));
  newestByKey_.Set(KeyOf(*created), created);
  TrimConversations();
  AttachPending(*r, *created, role);
}

void CConversationTable::TrimConversations() {
  if (conversations_.size() <= kMaxConversations) return;
  lastFiled_ = nullptr;
  while (conversations_.size() > kTrimmedConversations) {
    CConversation* oldest = conversations_.front().get();
    if (!oldest->closed) Announce(*oldest);
    newestByKey_.EraseIf(KeyOf(*oldest), oldest);
    Forget(*oldest);
    conversations_.pop_front();
    addressKeys_.pop_front();
    if (cancel_.Cancelled()) break;
  }
}

void CConversationTable::AddTo(CConversation& c, const CPacketRef& r, EHostRole role) {
  lastFiled_ = &c;
  if (!c.Add(r, role)) return;
  const std::size_t bytes = r->Payload().size();
  if (bytes == 0) return;
  ledger_.Add(r.get(), c.convId, r->direction, bytes);
  if (ledger_.NeedsCompaction()) ledger_.Compact(FirstLiveConvId());
}

int CConversationTable::FirstLiveConvId() const {
  // Conversations go oldest first (trimming) or all at once (Clear), and
  // ConvIds only grow: every ConvId below the oldest one left is gone. An
  // empty table may be filing the first record of the newest ConvId.
  return conversations_.empty() ? lastConvId_ : conversations_.front()->convId;
}

void CConversationTable::ReleaseOldest(std::size_t limit) {
  const int firstLive = FirstLiveConvId();
  ledger_.Trim(limit, [this, firstLive](const CPayloadLedger::CEntry& e) {
    if (e.convId < firstLive) return 0;
    CConversation* c = FindById(e.convId);
    return c != nullptr ? c->Release(e.record, e.Direction()) : 0;
  });
}

void CConversationTable::AttachPending(const CPacketRecord& r, CConversation& c,
                                       EHostRole role) {
  if (pending_.empty()) return;
  std::deque<CPacketRef> keep;
  for (CPacketRef& p : pending_) {
    // Only fragments of the same protocol, addresses and direction: an equal
    // IP identification from another host, or from the peer, is chance (each
    // sender numbers its own datagrams), and adding its record would rewrite
    // this conversation's endpoints.
    if (p->identification == r.identification && p->protocol == r.protocol &&
        p->remote == r.remote && p->local == r.local && p->direction == r.direction) {
      p->localPort = c.localPort;
      p->remotePort = c.remotePort;
      AddTo(c, p, role);
    } else {
      keep.push_back(std::move(p));
    }
  }
  pending_.swap(keep);
}

void CConversationTable::FinishAll() {
  for (auto& c : conversations_) {
    if (c->closed) continue;
    c->closed = true;
    Announce(*c);
  }
}

void CConversationTable::Clear() {
  lastFiled_ = nullptr;
  for (const auto& c : conversations_) {
    if (!c->closed) Announce(*c);
    Forget(*c);
  }
  newestByKey_.Clear();
  conversations_.clear();
  addressKeys_.clear();
}

CConversation* CConversationTable::FindById(int convId) const {
  auto it = std::lower_bound(conversations_.begin(), conversations_.end(), convId,
                             [](const std::unique_ptr<CConversation>& c, int id) {
                               return c->convId < id;
                             });
  if (it == conversations_.end() || (*it)->convId != convId) return nullptr;
  return it->get();
}
