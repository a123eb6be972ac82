#pragma once
#include <compare>
#include <cstddef>
#include <cstdint>

#include "model/conversation_snapshot.h"
#include "wire/ip_address.h"

// What names a service: the protocol and the far end's address and port
// when the local host is the Client of its exchanges, the local address and
// port when it is the Server. A small value type; any thread.
struct CServiceKey {
  EHostRole role = EHostRole::kClient;
  uint8_t protocol = 0;  // 6 TCP, 17 UDP
  uint16_t port = 0;     // host order
  CIpAddr address;       // remote for kClient, local for kServer

  // The service an exchange belongs to, by the exchange's own role.
  static CServiceKey Of(const CConversationSnapshot& s) {
    const bool client = s.role == EHostRole::kClient;
    return {s.role, s.protocol, client ? s.remotePort : s.localPort, client ? s.remote : s.local};
  }

  friend bool operator==(const CServiceKey&, const CServiceKey&) = default;
  // Role, protocol, address, port: the order rows are listed in.
  friend std::strong_ordering operator<=>(const CServiceKey& a, const CServiceKey& b) {
    if (a.role != b.role) return a.role <=> b.role;
    if (a.protocol != b.protocol) return a.protocol <=> b.protocol;
    if (a.address != b.address) return a.address <=> b.address;
    return a.port <=> b.port;
  }

  struct Hash {
    std::size_t operator()(const CServiceKey& k) const noexcept {
      uint64_t h = k.address.High() * 0x9E3779B97F4A7C15ull ^ k.address.Low() * 0xC2B2AE3D27D4EB4Full ^
                   (uint64_t{k.port} << 16 | uint64_t{k.protocol} << 8 |
                    static_cast<uint64_t>(k.role) << 4 | static_cast<uint64_t>(k.address.Family()));
      h ^= h >> 29;
      h *= 0xBF58476D1CE4E5B9ull;
      return static_cast<std::size_t>(h ^ (h >> 32));
    }
  };
};
