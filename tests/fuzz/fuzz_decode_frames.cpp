// Frames of every link type through the link-layer step, the decoder (with
// the names its DNS answers and connections carry) and the texts built from
// what was recorded.
//
// Input: byte 0 picks the link type, byte 1 the switches (header-only, TCP,
// UDP, host role, which address counts as local), then frames, each preceded
// by its captured length (16-bit, little-endian; the last one takes the rest).
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/capture_session.h"
#include "engine/host_name_service.h"
#include "engine/interface_record.h"
#include "engine/notification_queue.h"
#include "engine/packet_decoder.h"
#include "output/conversation_text.h"
#include "output/packet_text.h"
#include "wire/byte_reader.h"
#include "wire/link_layer.h"

namespace {

// Supported link types and two that are not: DLT_EN10MB, DLT_LINUX_SLL,
// DLT_LINUX_SLL2, DLT_RAW, DLT_IPV4, DLT_IPV6, DLT_NULL, DLT_IEEE802_11.
constexpr int kLinkTypes[] = {1, 113, 276, 12, 228, 229, 0, 105};

constexpr int32_t kNow = 1700000000;

// Makes the local address one of the packet's own (source or destination,
// IPv4 or IPv6 by its version), so that most packets get past the direction
// test and reach the model.
void PickLocal(CInterfaceRecord& local, std::span<const uint8_t> ip, uint8_t flags) {
  CByteReader r(ip);
  const bool destination = (flags & 0x20) != 0;
  const bool v6 = (r.U8(0) >> 4) == 6;
  const std::size_t offset = v6 ? (destination ? 24 : 8) : (destination ? 16 : 12);
  const std::size_t size = v6 ? 16 : 4;
  if ((flags & 0x40) == 0 || !r.Has(offset, size)) {
    local.AddAddress(10, 0, 0, 1);
    return;
  }
  local.addresses.push_back(v6 ? CIpAddr::V6(ip.subspan(offset).first<16>())
                               : CIpAddr::V4(ip.subspan(offset).first<4>()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int linkType = kLinkTypes[data[0] % std::size(kLinkTypes)];
  const uint8_t flags = data[1];
  std::span<const uint8_t> rest(data + 2, size - 2);

  CCaptureSwitches switches;
  switches.Set({(flags & 0x02) == 0, (flags & 0x04) == 0, (flags & 0x01) != 0,
                (flags & 0x08) != 0 ? EHostRole::kServer : EHostRole::kClient});
  CActiveFilterRules filters;
  CCancelToken cancel;
  CCaptureSession session(1, CSessionClock::EKind::kCapture, switches, filters, cancel);
  // Lookups stay off: no query leaves the fuzzer.
  static CNotificationQueue notifications;
  static CHostNameService names(notifications);
  names.Attach(session);
  CInterfaceRecord local;
  bool localPicked = false;
  CPacketDecoder decoder(session, local);

  while (!rest.empty()) {
    std::size_t length = rest.size();
    if (rest.size() >= 2) {
      length = std::min<std::size_t>(rest[0] | rest[1] << 8, rest.size() - 2);
      rest = rest.subspan(2);
    }
    // A copy of exactly the captured length, so that the sanitizer sees any
    // read past it.
    std::vector<uint8_t> frame(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(length));
    rest = rest.subspan(length);
    const auto ip = IpFromFrame(linkType, frame);
    if (!ip) continue;
    if (!localPicked) {
      PickLocal(local, *ip, flags);
      localPicked = true;
    }
    decoder.Decode(*ip, {kNow, 0});
  }

  // Every text the pages and files make of what was recorded.
  std::vector<CExportRow> keys;
  for (const CConversationRowData& row : session.ConversationRows()) {
    RenderDataSummary(row.conversation.sentStart);
    RenderDataSummary(row.conversation.receivedStart);
    keys.push_back(row.row);
  }
  for (const CConversationCopy& copy : session.CopyRows(keys)) {
    RenderConversationText(copy.records, {true, true, (flags & 0x10) != 0}, cancel,
                           session.RemoteName(copy.snapshot));
  }
  uint64_t seen = 0;
  std::string text;
  session.RecentPacketsText(seen, text);
  return 0;
}
