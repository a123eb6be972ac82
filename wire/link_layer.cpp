#include "wire/link_layer.h"

#include <pcap/pcap.h>

#include <cstdio>

#include "wire/byte_reader.h"

namespace {

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kSllHeader = 16;
constexpr std::size_t kSll2Header = 20;

#ifndef DLT_LINUX_SLL2
constexpr int DLT_LINUX_SLL2 = 276;
#endif
#ifndef DLT_IPV4
constexpr int DLT_IPV4 = 228;
#endif

// Frames whose protocol field says IPv4, with the IPv4 header at `start`.
std::optional<std::span<const uint8_t>> AfterTypeField(std::span<const uint8_t> frame,
                                                       std::size_t typeOffset,
                                                       std::size_t start) {
  CByteReader r(frame);
  const uint16_t type = r.U16(typeOffset);
  if (!r.Ok() || type != kEtherTypeIpv4 || frame.size() < start) return std::nullopt;
  return frame.subspan(start);
}

}  // namespace

bool IsSupportedLinkType(int linkType) {
  return linkType == DLT_EN10MB || linkType == DLT_LINUX_SLL || linkType == DLT_LINUX_SLL2 ||
         linkType == DLT_RAW || linkType == DLT_IPV4;
}

const char* LinkTypeName(int linkType, char (&buffer)[16]) {
  if (const char* name = pcap_datalink_val_to_name(linkType)) return name;
  std::snprintf(buffer, sizeof buffer, "%d", linkType);
  return buffer;
}

std::optional<std::span<const uint8_t>> Ipv4FromFrame(int linkType,
                                                      std::span<const uint8_t> frame) {
  if (linkType == DLT_EN10MB) return AfterTypeField(frame, 12, kEthernetHeader);
  if (linkType == DLT_LINUX_SLL) return AfterTypeField(frame, 14, kSllHeader);
  if (linkType == DLT_LINUX_SLL2) return AfterTypeField(frame, 0, kSll2Header);
  if (linkType == DLT_RAW || linkType == DLT_IPV4) {
    // Raw IP carries IPv6 as well; only the version nibble tells them apart.
    CByteReader r(frame);
    const uint8_t first = r.U8(0);
    if (!r.Ok() || first >> 4 != 4) return std::nullopt;
    return frame;
  }
  return std::nullopt;
}
