#include "engine/packet_name_reader.h"

#include "engine/host_name_service.h"
#include "names/connection_name_reader.h"
#include "wire/transport_header.h"

namespace {

constexpr uint16_t kDnsPort = 53;

// A TLS handshake record or the first letter of an HTTP method: anything
// else is skipped before a reader looks at more than one byte, since most
// segments are neither.
bool MayOpenConnection(std::span<const uint8_t> payload) {
  if (payload.empty()) return false;
  const uint8_t b = payload[0];
  return b == 22 || (b >= 'A' && b <= 'Z');
}

}  // namespace

std::optional<std::string> CPacketNameReader::Read(const CPacketFields& f,
                                                   std::span<const uint8_t> payload) {
  // A fragment holds part of a datagram or segment, and after the first
  // one no ports.
  if (names_ == nullptr || f.fragment) return std::nullopt;
  const bool sent = f.direction == EDirection::kSent;
  if (f.protocol == kProtocolUdp) {
    const uint16_t sourcePort = sent ? f.localPort : f.remotePort;
    if (sourcePort != kDnsPort) return std::nullopt;
    // Answers before a cut or a lie still name their addresses.
    if (dns_.Read(payload) == EDnsReadResult::kIgnored) return std::nullopt;
    for (const CDnsAnswer& answer : dns_.Answers()) names_->Learn(answer);
    return std::nullopt;
  }
  if (f.protocol != kProtocolTcp || !sent || !MayOpenConnection(payload)) return std::nullopt;
  std::optional<CConnectionName> name = CConnectionNameReader::Read(payload);
  if (!name) return std::nullopt;
  names_->LearnConnection(f.remote, name->name);
  return std::move(name->name);
}
