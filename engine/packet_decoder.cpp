#include "engine/packet_decoder.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <mutex>

#include "engine/app_state.h"
#include "wire/byte_reader.h"
#include "engine/interface_record.h"
#include "model/packet_record.h"
#include "model/traffic_model.h"
#include "output/log_writer.h"

namespace {

constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kProtocolUdp = 17;
constexpr uint16_t kMoreFragments = 0x2000;
constexpr int kMinimumIhl = 20;
constexpr int kMinimumTcpHeader = 20;
constexpr int kUdpHeader = 8;

bool On(const std::atomic<int>& flag) { return flag.load(std::memory_order_relaxed) != 0; }

}  // namespace

int64_t CDecodeContext::SystemSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

int HeaderLength(int protocol, int ihl, int tcpHeaderLength) {
  if (protocol == kProtocolTcp) return ihl + tcpHeaderLength;
  if (protocol == kProtocolUdp) return ihl + kUdpHeader;
  return 0;
}

EDecodeResult ProcessPacket(CDecodeContext& context, std::span<const uint8_t> ipv4,
                            CTimeStamp time) {
  if (!On(context.running)) return EDecodeResult::kStopped;
  CAppState& state = context.state;

  CByteReader ip(ipv4);
  const uint8_t versionIhl = ip.U8(0);
  const uint16_t totalLength = ip.U16(2);
  const uint16_t identification = ip.U16(4);
  const uint16_t flagsOffset = ip.U16(6);
  const uint8_t ttl = ip.U8(8);
  const uint8_t protocol = ip.U8(9);
  if (!ip.Ok() || !ip.Has(12, 8)) return EDecodeResult::kTruncated;
  if (versionIhl >> 4 != 4) return EDecodeResult::kMalformed;
  const int ihl = (versionIhl & 0x0F) * 4;
  // An IHL below 20 would put the transport header inside the IPv4 header.
  if (ihl < kMinimumIhl) return EDecodeResult::kMalformed;
  const int fragment = (flagsOffset & kMoreFragments) != 0 ? 1 : 0;

  CPacketFields f;
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  int tcpHeaderLength = 0;
  if (protocol == kProtocolTcp) {
    if (!On(state.tcp)) return EDecodeResult::kSwitchedOff;
    // A first fragment carries the ports, but they are left 0 so that the
    // conversation table files it by its identification.
    if (!fragment) {
      sourcePort = ip.U16(ihl);
      destinationPort = ip.U16(ihl + 2);
    }
    f.seq = ip.U32(ihl + 4);
    f.ack = ip.U32(ihl + 8);
    tcpHeaderLength = (ip.U8(ihl + 12) >> 4) * 4;
    f.tcpFlags = ip.U8(ihl + 13);
    if (!ip.Ok()) return EDecodeResult::kTruncated;
    if (tcpHeaderLength < kMinimumTcpHeader) return EDecodeResult::kMalformed;
  } else if (protocol == kProtocolUdp) {
    if (!On(state.udp)) return EDecodeResult::kSwitchedOff;
    sourcePort = ip.U16(ihl);
    destinationPort = ip.U16(ihl + 2);
    if (!ip.Ok()) return EDecodeResult::kTruncated;
  } else {
    return EDecodeResult::kProtocol;
  }

  const int headerLength = HeaderLength(protocol, ihl, tcpHeaderLength);
  if (totalLength <= headerLength) return EDecodeResult::kNoPayload;
  // The payload starts after the whole transport header (options included);
  // a frame cut short inside it has no place where the payload begins.
  if (!ip.Has(0, static_cast<std::size_t>(headerLength))) return EDecodeResult::kTruncated;

  const CIpAddr source = CIpAddr::V4(ipv4.subspan<12, 4>());
  const CIpAddr destination = CIpAddr::V4(ipv4.subspan<16, 4>());

  int direction = kDirNone;
  try {
    direction = context.local.Direction(source, destination);
  } catch (const std::exception&) {
    direction = kDirNone;
  }
  if (direction == kDirNone) return EDecodeResult::kNotLocal;

  const bool sent = direction == kDirSent;
  f.local = sent ? source : destination;
  f.remote = sent ? destination : source;
  f.localPort = sent ? sourcePort : destinationPort;
  f.remotePort = sent ? destinationPort : sourcePort;
  f.direction = direction;
  f.fragment = fragment;
  f.identification = identification;
  f.time = time;
  f.headerLength = headerLength;
  f.totalLength = totalLength;
  f.ttl = ttl;
  f.protocol = protocol;

  // The rules keep their own synchronisation, so the filter runs before the
  // traffic lock is taken.
  if (!state.Model().filterRules.Passes(f.remote, f.remotePort)) return EDecodeResult::kFiltered;

  // Ethernet pads short frames; the bytes past the total length are padding,
  // never payload.
  const std::span<const uint8_t> payload = ip.Slice(static_cast<std::size_t>(headerLength),
                                                    totalLength);

  std::lock_guard<std::mutex> lock(state.trafficLock);
  CTrafficModel& model = state.Model();
  bool recorded = false;
  try {
    model.Record(f, payload);
    recorded = true;
    // The clock is read only when a pass could be due.
    if (On(state.logToFile)) WriteLogsIfDue(model, context.Now());
  } catch (const std::exception&) {
    // What was updated stays (counters may stand without a record); the
    // packet's processing ends here, and the recent list is still kept
    // within its bound below.
  }
  try {
    model.TrimRecent();
  } catch (const std::exception&) {
  }
  return recorded ? EDecodeResult::kRecorded : EDecodeResult::kFailed;
}
