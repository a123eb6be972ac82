#pragma once
#include <array>
#include <cstdint>

// An IPv4 address as four bytes in network order. Comparison is byte by
// byte from the first byte, which is the numeric order of the address.
using CIpAddr = std::array<uint8_t, 4>;

constexpr CIpAddr MakeIpAddr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return CIpAddr{a, b, c, d};
}

constexpr CIpAddr kLoopbackAddr = MakeIpAddr(127, 0, 0, 1);
