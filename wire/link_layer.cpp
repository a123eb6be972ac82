#include "wire/link_layer.h"

#include <pcap/pcap.h>

#include <cstdio>

#include "wire/byte_reader.h"

namespace {

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeIpv6 = 0x86DD;
constexpr uint16_t kEtherTypeVlan = 0x8100;
constexpr uint16_t kEtherTypeQinQ = 0x88A8;
constexpr std::size_t kEthernetTypeField = 12;
constexpr std::size_t kVlanTag = 4;
constexpr int kMaxVlanTags = 2;
constexpr std::size_t kSllHeader = 16;
constexpr std::size_t kSll2Header = 20;

#ifndef DLT_LINUX_SLL2
constexpr int DLT_LINUX_SLL2 = 276;
#endif
#ifndef DLT_IPV4
constexpr int DLT_IPV4 = 228;
#endif
#ifndef DLT_IPV6
constexpr int DLT_IPV6 = 229;
#endif

bool IsIpType(uint16_t type) { return type == kEtherTypeIpv4 || type == kEtherTypeIpv6; }

// Frames whose protocol field says IPv4 or IPv6, with the IP header at
// `start`.
std::optional<std::span<const uint8_t>> AfterTypeField(std::span<const uint8_t> frame,
                                                       std::size_t typeOffset,
                                                       std::size_t start) {
  CByteReader r(frame);
  const uint16_t type = r.U16(typeOffset);
  if (!r.Ok() || !IsIpType(type) || frame.size() < start) return std::nullopt;
  return frame.subspan(start);
}

// On a trunk port every frame is tagged; the tags sit between the addresses
// and the type that names the IP header, 4 bytes each.
std::optional<std::span<const uint8_t>> EthernetPayload(std::span<const uint8_t> frame) {
  CByteReader r(frame);
  std::size_t typeAt = kEthernetTypeField;
  for (int tags = 0; tags < kMaxVlanTags; ++tags) {
    const uint16_t type = r.U16(typeAt);
    if (!r.Ok() || (type != kEtherTypeVlan && type != kEtherTypeQinQ)) break;
    typeAt += kVlanTag;
  }
  return AfterTypeField(frame, typeAt, typeAt + 2);
}

// Raw IP says nothing of the version but its first nibble.
std::optional<std::span<const uint8_t>> RawPayload(std::span<const uint8_t> frame, bool v4,
                                                   bool v6) {
  CByteReader r(frame);
  const int version = r.U8(0) >> 4;
  if (!r.Ok() || !((v4 && version == 4) || (v6 && version == 6))) return std::nullopt;
  return frame;
}

}  // namespace

bool IsSupportedLinkType(int linkType) {
  return linkType == DLT_EN10MB || linkType == DLT_LINUX_SLL || linkType == DLT_LINUX_SLL2 ||
         linkType == DLT_RAW || linkType == DLT_IPV4 || linkType == DLT_IPV6;
}

const char* LinkTypeName(int linkType, char (&buffer)[16]) {
  if (const char* name = pcap_datalink_val_to_name(linkType)) return name;
  std::snprintf(buffer, sizeof buffer, "%d", linkType);
  return buffer;
}

std::optional<std::span<const uint8_t>> IpFromFrame(int linkType, std::span<const uint8_t> frame) {
  switch (linkType) {
    case DLT_EN10MB: return EthernetPayload(frame);
    case DLT_LINUX_SLL: return AfterTypeField(frame, 14, kSllHeader);
    case DLT_LINUX_SLL2: return AfterTypeField(frame, 0, kSll2Header);
    case DLT_RAW: return RawPayload(frame, true, true);
    case DLT_IPV4: return RawPayload(frame, true, false);
    case DLT_IPV6: return RawPayload(frame, false, true);
    default: return std::nullopt;
  }
}
