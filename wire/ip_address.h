#pragma once
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// An IPv4 or IPv6 address, bytes in network order. A default address is the
// IPv4 address 0.0.0.0. Addresses order by family first (every IPv4 address
// before every IPv6 one), then byte by byte, which is numeric order within a
// family. A small value type; any thread.
class CIpAddr {
 public:
  enum class EFamily : uint8_t { kV4 = 4, kV6 = 6 };

  constexpr CIpAddr() = default;
  // The IPv4 address a.b.c.d.
  constexpr CIpAddr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) : bytes_{a, b, c, d} {}

  // From 4 bytes in network order.
  static CIpAddr V4(std::span<const uint8_t, 4> bytes) {
    return CIpAddr(bytes[0], bytes[1], bytes[2], bytes[3]);
  }
  // From 16 bytes in network order.
  static constexpr CIpAddr V6(const std::array<uint8_t, 16>& bytes) {
    CIpAddr a;
    a.bytes_ = bytes;
    a.family_ = EFamily::kV6;
    return a;
  }
  static CIpAddr V6(std::span<const uint8_t, 16> bytes) {
    std::array<uint8_t, 16> b;
    std::memcpy(b.data(), bytes.data(), 16);
    return V6(b);
  }

  // "192.0.2.1" or any IPv6 text inet_pton reads ("2001:db8::1",
  // "::ffff:192.0.2.1"); nothing for anything else, blanks included.
  static std::optional<CIpAddr> FromText(std::string_view text);

  // Dotted decimal for IPv4, the RFC 5952 form (inet_ntop's) for IPv6.
  std::string ToText() const;

  constexpr EFamily Family() const { return family_; }
  constexpr bool IsV4() const { return family_ == EFamily::kV4; }
  constexpr bool IsV6() const { return family_ == EFamily::kV6; }
  // 4 or 16.
  constexpr std::size_t Size() const { return IsV4() ? 4 : 16; }
  const uint8_t* Data() const { return bytes_.data(); }
  std::span<const uint8_t> Bytes() const { return {bytes_.data(), Size()}; }

  // Byte `i` of the address, i < Size(); for IPv4 the four octets.
  constexpr uint8_t operator[](std::size_t i) const { return bytes_[i]; }
  constexpr uint8_t& operator[](std::size_t i) { return bytes_[i]; }

  // The address in two words, for hashing and fast comparison; IPv4 uses
  // only the first bytes of `high`, the rest are zero.
  uint64_t High() const {
    uint64_t w;
    std::memcpy(&w, bytes_.data(), 8);
    return w;
  }
  uint64_t Low() const {
    uint64_t w;
    std::memcpy(&w, bytes_.data() + 8, 8);
    return w;
  }

  // Two word compares; the per-packet path compares addresses often.
  friend bool operator==(const CIpAddr& a, const CIpAddr& b) {
    return a.High() == b.High() && a.Low() == b.Low() && a.family_ == b.family_;
  }
  friend std::strong_ordering operator<=>(const CIpAddr& a, const CIpAddr& b) {
    if (a.family_ != b.family_) return a.family_ <=> b.family_;
    const int c = std::memcmp(a.bytes_.data(), b.bytes_.data(), 16);
    return c < 0 ? std::strong_ordering::less
                 : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
  }

 private:
  alignas(8) std::array<uint8_t, 16> bytes_{};  // IPv4: the first four, the rest zero
  EFamily family_ = EFamily::kV4;
};

constexpr CIpAddr kLoopbackAddr(127, 0, 0, 1);
constexpr CIpAddr kLoopbackAddr6 = CIpAddr::V6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
