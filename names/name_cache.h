#pragma once
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "wire/ip_address.h"

// Where a host's name came from, in rising order of trust.
enum class ENameSource : uint8_t {
  kReverseLookup = 0,  // a PTR record the resolver asked for
  kConnection = 1,     // a TLS server name or HTTP Host a connection to the host carried
  kDnsAnswer = 2,      // an A or AAAA answer seen in the trace
};

struct CCachedName {
  std::string name;
  ENameSource source = ENameSource::kReverseLookup;
};

// Host names by address. Each address keeps the latest name from each
// source with its own expiry; a lookup returns the most trusted one not yet
// expired, so a DNS answer hides a connection name until its TTL runs out,
// and a connection name hides a reverse-lookup one. Connection names never
// expire; they leave with their address.
//
// Bounded: past `capacity` addresses the least recently stored or looked-up
// one is dropped.
//
// Thread-safe: every member may be called from any thread, the capture
// thread with the traffic lock held included. Each call holds the cache's
// own mutex for one hash lookup and a list splice (well under a
// microsecond, plus copying the name) and takes no other lock while holding
// it, never does I/O and never waits for another thread.
//
// Times are on the steady clock; TTLs in seconds.
class CNameCache {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kDefaultCapacity = 4096;
  // A TTL that never runs out: the name stays until replaced or dropped.
  static constexpr std::chrono::seconds kForever = std::chrono::seconds::max();

  explicit CNameCache(std::size_t capacity = kDefaultCapacity);

  CNameCache(const CNameCache&) = delete;
  CNameCache& operator=(const CNameCache&) = delete;

  // Stores `name` (a CHostName text) for `address` from `source`, expiring
  // `ttl` after `now` (never for kForever); `ttl` is ignored for
  // kConnection. Replaces the
  // address's earlier name from the same source.
  void Store(const CIpAddr& address, ENameSource source, std::string name, Clock::time_point now,
             std::chrono::seconds ttl);

  // The most trusted name of `address` not expired at `now`, or nothing.
  // Marks the address as recently used.
  std::optional<CCachedName> Lookup(const CIpAddr& address, Clock::time_point now);

  // True when Lookup would return a name; copies nothing and leaves the
  // order of use alone.
  bool HasName(const CIpAddr& address, Clock::time_point now) const;

  std::size_t Size() const;
  void Clear();

 private:
  struct CSlot {
    std::string name;  // empty: none
    Clock::time_point expiry;
  };
  struct CEntry {
    CIpAddr address;
    std::array<CSlot, 3> bySource;  // indexed by ENameSource
  };
  struct CHash {
    std::size_t operator()(const CIpAddr& a) const {
      return static_cast<std::size_t>((a.High() * 0x9E3779B97F4A7C15ull) ^ (a.Low() + a.Size()));
    }
  };
  using CList = std::list<CEntry>;

  // The most trusted live slot of `entry`, or null.
  static const CSlot* Best(const CEntry& entry, Clock::time_point now, ENameSource* source);

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  CList byUse_;  // most recently used first
  std::unordered_map<CIpAddr, CList::iterator, CHash> byAddress_;
};
