#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The one rule for a host name that may be shown or written: lower-case
// ASCII labels of letters, digits, '-' and '_', 1 to 63 bytes each, joined
// by dots, at most 253 bytes, the last label not all digits (so that an
// address literal is not taken for a name).
//
// A name with any other byte is rejected whole, never repaired: names come
// from hostile packets and end up in terminals and files, and a repaired
// name ("bank.example?.evil.example") could pass for a different host.
// Plain functions over values; any thread.
class CHostName {
 public:
  static constexpr std::size_t kMaxLabel = 63;
  static constexpr std::size_t kMaxText = 253;

  // `text` with one trailing dot allowed and upper case folded, or nothing
  // when it breaks the rule.
  static std::optional<std::string> FromText(std::string_view text);

  // The text of a name in uncompressed wire form (length-prefixed labels
  // ending with the zero-length root label), or nothing when a label holds a
  // byte outside the rule (a dot inside a label included) or the name is
  // the root.
  static std::optional<std::string> FromWire(std::span<const uint8_t> wire);

  // True for a byte allowed inside a label, upper case included.
  static bool IsLabelByte(uint8_t b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
           b == '-' || b == '_';
  }
};
