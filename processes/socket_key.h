#pragma once
#include <cstddef>
#include <cstdint>

#include "wire/ip_address.h"

// The two ends of a conversation's socket as the capture sees them: the
// local host's address and port, the remote ones, and the protocol (6 TCP,
// 17 UDP). The key under which the owning process is looked up and cached.
// A small value type; any thread.
struct CSocketKey {
  uint8_t protocol = 0;
  CIpAddr local;
  uint16_t localPort = 0;
  CIpAddr remote;
  uint16_t remotePort = 0;

  friend bool operator==(const CSocketKey&, const CSocketKey&) = default;
};

struct CSocketKeyHash {
  std::size_t operator()(const CSocketKey& k) const noexcept {
    uint64_t h = (k.local.High() ^ k.local.Low() * 0xFF51AFD7ED558CCDull) * 0x9E3779B97F4A7C15ull ^
                 (k.remote.High() ^ k.remote.Low() * 0xC4CEB9FE1A85EC53ull) * 0x94D049BB133111EBull ^
                 (static_cast<uint64_t>(k.protocol) | static_cast<uint64_t>(k.localPort) << 8 |
                  static_cast<uint64_t>(k.remotePort) << 24 |
                  static_cast<uint64_t>(k.local.Family()) << 40) *
                     0xC2B2AE3D27D4EB4Full;
    h ^= h >> 32;
    return static_cast<std::size_t>(h * 0xD6E8FEB86659FD93ull);
  }
};
