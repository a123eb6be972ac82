#pragma once
#include <cstdint>

// Which way a packet went, seen from the local host.
enum class EDirection : uint8_t { kNone = 0, kSent = 1, kReceived = 2 };

// Which side of an exchange the local host plays: the Client opens
// exchanges (its requests are sent), the Server answers them (its requests
// are received).
enum class EHostRole : uint8_t { kClient = 0, kServer = 1 };

// The direction that opens an exchange for a role.
constexpr EDirection OpeningDirection(EHostRole role) {
  return role == EHostRole::kServer ? EDirection::kReceived : EDirection::kSent;
}
