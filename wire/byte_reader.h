#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

// Reads big-endian fields at offsets inside a span of captured bytes. A read
// that would pass the end of the span yields 0 and marks the reader as
// short; callers check Ok() once after a group of reads. Nothing is ever
// read outside the span, so any byte sequence is safe to decode.
class CByteReader {
 public:
  explicit CByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  std::size_t Size() const { return bytes_.size(); }

  // True when `count` bytes starting at `offset` lie inside the span.
  bool Has(std::size_t offset, std::size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }

  uint8_t U8(std::size_t offset) {
    if (!Has(offset, 1)) return Short();
    return bytes_[offset];
  }

  uint16_t U16(std::size_t offset) {
    if (!Has(offset, 2)) return Short();
    return static_cast<uint16_t>(bytes_[offset] << 8 | bytes_[offset + 1]);
  }

  uint32_t U32(std::size_t offset) {
    if (!Has(offset, 4)) return Short();
    return static_cast<uint32_t>(bytes_[offset]) << 24 |
           static_cast<uint32_t>(bytes_[offset + 1]) << 16 |
           static_cast<uint32_t>(bytes_[offset + 2]) << 8 | bytes_[offset + 3];
  }

  // The bytes from `offset` up to `end`, both clamped to the span.
  std::span<const uint8_t> Slice(std::size_t offset, std::size_t end) const {
    if (end > bytes_.size()) end = bytes_.size();
    if (offset >= end) return {};
    return bytes_.subspan(offset, end - offset);
  }

  // False once any read ran past the end.
  bool Ok() const { return !short_; }

 private:
  uint8_t Short() {
    short_ = true;
    return 0;
  }

  std::span<const uint8_t> bytes_;
  bool short_ = false;
};
