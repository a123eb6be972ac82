#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "wire/ip_address.h"

class CConversation;

// The newest conversation of each endpoint key (protocol, remote and local
// address, remote and local port): a fixed open-addressing table of packed
// keys, so that a lookup reads one or two adjacent slots and never
// allocates. Holds at most kCapacity / 2 keys, which the conversation
// bound keeps it under.
//
// Not thread-safe; the owning conversation table's caller holds the traffic
// lock.
class CConversationIndex {
 public:
  static constexpr std::size_t kCapacity = 4096;

  // An endpoint key packed into words.
  struct Key {
    uint64_t remoteHigh, remoteLow;  // CIpAddr::High() and Low()
    uint64_t localHigh, localLow;
    uint64_t rest;  // protocol, remote port, local port, family
    friend bool operator==(const Key&, const Key&) = default;
  };
  static Key MakeKey(uint8_t protocol, const CIpAddr& remote, const CIpAddr& local,
                     uint16_t remotePort, uint16_t localPort);

  CConversationIndex() : slots_(kCapacity) {}

  // The conversation filed under `key`, or null.
  CConversation* Find(const Key& key) const;
  // Starts reading the key's home slot, for a Find a little later.
  void Prefetch(const Key& key) const { __builtin_prefetch(&slots_[Home(key)]); }
  // Files `c` under `key`, replacing what was there.
  void Set(const Key& key, CConversation* c);
  // Removes `key` if it still leads to `c`.
  void EraseIf(const Key& key, const CConversation* c);
  void Clear();
  std::size_t Size() const { return size_; }

 private:
  struct Slot {
    Key key{};
    CConversation* conv = nullptr;  // null: empty
  };
  static std::size_t Home(const Key& key);
  std::size_t Locate(const Key& key) const;  // the key's slot, or the empty one ending its run

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};
