#include "wire/byte_reader.h"
#include "wire/ip_packet.h"

namespace {

constexpr std::size_t kFixedHeader = 40;
constexpr std::size_t kFragmentHeader = 8;
constexpr uint8_t kHopByHop = 0;
constexpr uint8_t kRouting = 43;
constexpr uint8_t kFragment = 44;
constexpr uint8_t kDestinationOptions = 60;

}  // namespace

EReadResult ReadIpv6(std::span<const uint8_t> bytes, CIpPacket& out) {
  CByteReader ip(bytes);
  const uint8_t version = ip.U8(0) >> 4;
  const uint16_t payloadLength = ip.U16(4);
  uint8_t next = ip.U8(6);
  out.ttl = ip.U8(7);
  if (!ip.Has(0, kFixedHeader)) return EReadResult::kTruncated;
  if (version != 6) return EReadResult::kMalformed;
  // A jumbogram's real length sits in a Hop-by-Hop option; no link a trace
  // reads carries one, so the zero length is taken for the lie it likely is.
  if (payloadLength == 0 && next == kHopByHop) return EReadResult::kMalformed;
  out.source = CIpAddr::V6(bytes.subspan<8, 16>());
  out.destination = CIpAddr::V6(bytes.subspan<24, 16>());
  out.totalLength = static_cast<int>(kFixedHeader) + payloadLength;
  out.identification = 0;
  out.moreFragments = false;
  out.fragmentOffset = 0;

  // Every header walked is at least 8 bytes and lies inside the captured
  // bytes, so the walk ends within the frame.
  std::size_t at = kFixedHeader;
  for (;;) {
    if (next == kHopByHop && at != kFixedHeader) return EReadResult::kMalformed;
    if (next == kHopByHop || next == kRouting || next == kDestinationOptions) {
      const uint8_t following = ip.U8(at);
      const std::size_t length = (ip.U8(at + 1) + std::size_t{1}) * 8;
      if (!ip.Ok() || !ip.Has(at, length)) return EReadResult::kTruncated;
      next = following;
      at += length;
    } else if (next == kFragment) {
      const uint8_t following = ip.U8(at);
      const uint16_t offsetFlags = ip.U16(at + 2);
      out.identification = ip.U32(at + 4);
      if (!ip.Ok()) return EReadResult::kTruncated;
      out.fragmentOffset = offsetFlags >> 3;
      out.moreFragments = (offsetFlags & 1) != 0;
      next = following;
      at += kFragmentHeader;
      // A later fragment carries the middle of the datagram: the headers
      // it names come in the first fragment only.
      if (out.fragmentOffset > 0) break;
    } else {
      break;
    }
  }
  out.protocol = next;
  out.headerLength = static_cast<int>(at);
  out.bytes = bytes;
  return EReadResult::kOk;
}
