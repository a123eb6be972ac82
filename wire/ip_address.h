#pragma once
#include <array>
#include <cstdint>
#include <cstring>

// An IPv4 address as four bytes in network order. Comparison is byte by
// byte from the first byte, which is the numeric order of the address.
using CIpAddr = std::array<uint8_t, 4>;

constexpr CIpAddr MakeIpAddr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return CIpAddr{a, b, c, d};
}

// Equality of two addresses as one 32-bit comparison; std::array's own
// operator== may end in a call to memcmp, which shows on the per-packet path.
inline bool SameAddress(const CIpAddr& a, const CIpAddr& b) {
  uint32_t x;
  uint32_t y;
  std::memcpy(&x, a.data(), 4);
  std::memcpy(&y, b.data(), 4);
  return x == y;
}

constexpr CIpAddr kLoopbackAddr = MakeIpAddr(127, 0, 0, 1);
