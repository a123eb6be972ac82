#include "model/conversation_index.h"

#include <algorithm>

namespace {

constexpr std::size_t kMask = CConversationIndex::kCapacity - 1;

}  // namespace

CConversationIndex::Key CConversationIndex::MakeKey(uint8_t protocol, const CIpAddr& remote,
                                                    const CIpAddr& local, uint16_t remotePort,
                                                    uint16_t localPort) {
  // The family goes into the key too: an IPv4 address and an IPv6 address
  // with the same leading bytes are not the same endpoint.
  return Key{remote.High(), remote.Low(), local.High(), local.Low(),
             static_cast<uint64_t>(protocol) | static_cast<uint64_t>(remotePort) << 8 |
                 static_cast<uint64_t>(localPort) << 24 |
                 static_cast<uint64_t>(remote.Family()) << 40};
}

std::size_t CConversationIndex::Home(const Key& key) {
  uint64_t h = (key.remoteHigh ^ key.remoteLow * 0xFF51AFD7ED558CCDull) * 0x9E3779B97F4A7C15ull ^
               (key.localHigh ^ key.localLow * 0xC4CEB9FE1A85EC53ull) * 0x94D049BB133111EBull ^
               key.rest * 0xC2B2AE3D27D4EB4Full;
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  return static_cast<std::size_t>(h >> 40) & kMask;
}

std::size_t CConversationIndex::Locate(const Key& key) const {
  std::size_t i = Home(key);
  while (slots_[i].conv != nullptr && !(slots_[i].key == key)) i = (i + 1) & kMask;
  return i;
}

CConversation* CConversationIndex::Find(const Key& key) const { return slots_[Locate(key)].conv; }

void CConversationIndex::Set(const Key& key, CConversation* c) {
  Slot& s = slots_[Locate(key)];
  if (s.conv == nullptr) ++size_;
  s.key = key;
  s.conv = c;
}

void CConversationIndex::EraseIf(const Key& key, const CConversation* c) {
  std::size_t i = Locate(key);
  if (slots_[i].conv == nullptr || slots_[i].conv != c) return;
  // Backward-shift deletion: move later members of the probe run into the
  // hole when their home slot lies at or before it, so no lookup needs a
  // tombstone.
  std::size_t j = i;
  for (;;) {
    j = (j + 1) & kMask;
    if (slots_[j].conv == nullptr) break;
    const std::size_t home = Home(slots_[j].key);
    // Is `home` cyclically outside (i, j]? Then the slot may move to i.
    const bool movable = i <= j ? (home <= i || home > j) : (home <= i && home > j);
    if (movable) {
      slots_[i] = slots_[j];
      i = j;
    }
  }
  slots_[i] = Slot{};
  --size_;
}

void CConversationIndex::Clear() {
  std::fill(slots_.begin(), slots_.end(), Slot{});
  size_ = 0;
}
