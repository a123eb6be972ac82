#include "wire/ip_packet.h"

#include "wire/byte_reader.h"

namespace {

constexpr uint16_t kMoreFragments = 0x2000;
constexpr uint16_t kOffsetMask = 0x1FFF;
constexpr int kMinimumIhl = 20;

}  // namespace

EReadResult ReadIpv4(std::span<const uint8_t> bytes, CIpPacket& out) {
  CByteReader ip(bytes);
  const uint8_t versionIhl = ip.U8(0);
  out.totalLength = ip.U16(2);
  out.identification = ip.U16(4);
  const uint16_t flagsOffset = ip.U16(6);
  out.ttl = ip.U8(8);
  out.protocol = ip.U8(9);
  if (!ip.Ok() || !ip.Has(12, 8)) return EReadResult::kTruncated;
  if (versionIhl >> 4 != 4) return EReadResult::kMalformed;
  out.headerLength = (versionIhl & 0x0F) * 4;
  // An IHL below 20 would put the transport header inside the IPv4 header.
  if (out.headerLength < kMinimumIhl) return EReadResult::kMalformed;
  out.moreFragments = (flagsOffset & kMoreFragments) != 0;
  out.fragmentOffset = flagsOffset & kOffsetMask;
  out.source = CIpAddr::V4(bytes.subspan<12, 4>());
  out.destination = CIpAddr::V4(bytes.subspan<16, 4>());
  out.bytes = bytes;
  return EReadResult::kOk;
}

EReadResult ReadIpPacket(std::span<const uint8_t> bytes, CIpPacket& out) {
  if (bytes.empty()) return EReadResult::kTruncated;
  switch (bytes[0] >> 4) {
    case 4: return ReadIpv4(bytes, out);
    case 6: return ReadIpv6(bytes, out);
    default: return EReadResult::kMalformed;
  }
}
