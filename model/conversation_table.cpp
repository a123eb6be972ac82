#include "model/conversation_table.h"

#include <algorithm>

#include "engine/app_state.h"

CConversationTable::Key CConversationTable::KeyOf(const CPacketRecord& r) {
  return CConversationIndex::MakeKey(r.protocol, r.remote, r.local, r.remotePort, r.localPort);
}

CConversationTable::Key CConversationTable::KeyOf(const CConversation& c) {
  return CConversationIndex::MakeKey(static_cast<uint8_t>(c.protocol), c.remote, c.local,
                                     c.remotePort, c.localPort);
}

CConversation* CConversationTable::FindNewest(const CPacketRecord& r, int* result) {
  *result = -1;
  if (!r.fragment) {
    CConversation* c = newestByKey_.Find(KeyOf(r));
    if (c == nullptr) return nullptr;
    *result = c->Match(r);
    return c;
  }
  // A fragment may belong to any conversation of its addresses that holds a
  // received record with its identification, so it needs the full search.
  const AddressKey addresses = AddressKeyOf(r);
  auto conv = conversations_.rbegin();
  for (auto key = addressKeys_.rbegin(); key != addressKeys_.rend(); ++key, ++conv) {
    if (*key == addresses) {
      CConversation* c = conv->get();
      const int m = c->Match(r);
      if (m != -1) {
        *result = m;
        return c;
      }
    }
    if (state_.Quitting()) {
      *result = -2;
      return nullptr;
    }
  }
  return nullptr;
}

void CConversationTable::FilePacket(const CPacketRef& r) {
  int result;
  CConversation* c = FindNewest(*r, &result);
  if (result == -2) return;  // closing down: not filed
  if (result == 0) {
    if (r->fragment) {
      r->localPort = c->localPort;
      r->remotePort = c->remotePort;
    }
    c->Add(r, state_.hostRole.load(std::memory_order_relaxed));
    AttachPending(*r, *c);
    return;
  }
  if (r->fragment) {
    pending_.push_back(r);
    if (pending_.size() > kMaxPendingFragments) {
      pending_.erase(pending_.begin(),
                     pending_.begin() + (pending_.size() - kTrimmedPendingFragments));
    }
    return;
  }
  const int role = state_.hostRole.load(std::memory_order_relaxed);
  auto conv = std::make_unique<CConversation>(++state_.convIdCounter, role);
  conv->Add(r, role);
  CConversation* created = conv.get();
  conversations_.push_back(std::move(conv));
  addressKeys_.push_back(AddressKeyOf(*r));
  newestByKey_.Set(KeyOf(*created), created);
  TrimConversations();
  AttachPending(*r, *created);
}

void CConversationTable::TrimConversations() {
  if (conversations_.size() <= kMaxConversations) return;
  while (conversations_.size() > kTrimmedConversations) {
    CConversation* oldest = conversations_.front().get();
    newestByKey_.EraseIf(KeyOf(*oldest), oldest);
    conversations_.pop_front();
    addressKeys_.pop_front();
    if (state_.Quitting()) break;
  }
}

void CConversationTable::AttachPending(const CPacketRecord& r, CConversation& c) {
  if (pending_.empty()) return;
  const int role = state_.hostRole.load(std::memory_order_relaxed);
  std::deque<CPacketRef> keep;
  for (CPacketRef& p : pending_) {
    // Only fragments of the same protocol and addresses: an equal IP
    // identification from another host is chance, and adding its record
    // would rewrite this conversation's endpoints.
    if (p->identification == r.identification && p->protocol == r.protocol &&
        p->remote == r.remote && p->local == r.local) {
      p->localPort = c.localPort;
      p->remotePort = c.remotePort;
      c.Add(p, role);
    } else {
      keep.push_back(std::move(p));
    }
  }
  pending_.swap(keep);
}

void CConversationTable::Clear() {
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
