#include "engine/packet_decoder.h"

#include <algorithm>
#include <exception>

#include "engine/capture_session.h"
#include "engine/interface_record.h"
#include "model/packet_record.h"
#include "wire/byte_reader.h"
#include "wire/ip_packet.h"
#include "wire/transport_header.h"

namespace {

EDecodeResult FromRead(EReadResult r) {
  return r == EReadResult::kTruncated ? EDecodeResult::kTruncated : EDecodeResult::kMalformed;
}

// The fields of a packet with its local and remote ends assigned.
CPacketFields Classify(const CIpPacket& ip, const CTransportHeader& t, EDirection direction,
                       CTimeStamp time) {
  const bool sent = direction == EDirection::kSent;
  CPacketFields f;
  f.local = sent ? ip.source : ip.destination;
  f.remote = sent ? ip.destination : ip.source;
  f.localPort = sent ? t.sourcePort : t.destinationPort;
  f.remotePort = sent ? t.destinationPort : t.sourcePort;
  f.direction = direction;
  f.fragment = ip.moreFragments;
  f.laterFragment = ip.LaterFragment();
  f.identification = ip.identification;
  f.time = time;
  f.headerLength = ip.headerLength + t.headerLength;
  f.totalLength = ip.totalLength;
  f.ttl = ip.ttl;
  f.protocol = ip.protocol;
  f.seq = t.seq;
  f.ack = t.ack;
  f.tcpFlags = t.tcpFlags;
  return f;
}

bool IsLoopback(const CIpAddr& a) { return a.IsV4() ? a[0] == 127 : a == kLoopbackAddr6; }

bool IsLocalHost(const CInterfaceRecord& local, const CIpAddr& a) {
  return IsLoopback(a) || std::find(local.addresses.begin(), local.addresses.end(), a) != local.addresses.end();
}

}  // namespace

EDirection PacketDirection(const CInterfaceRecord& local, const CIpAddr& source, uint16_t sourcePort,
                           const CIpAddr& destination, uint16_t destinationPort, EHostRole role) {
  if (IsLocalHost(local, source) && IsLocalHost(local, destination)) {
    const bool sent = role == EHostRole::kClient ? sourcePort >= destinationPort
                                                 : sourcePort <= destinationPort;
    return sent ? EDirection::kSent : EDirection::kReceived;
  }
  return local.Direction(source, destination);
}

CPacketDecoder::CPacketDecoder(CCaptureSession& session, const CInterfaceRecord& local)
    : session_(session), local_(local), names_(session.Names()) {
  if (CSocketOwnerCache* cache = session.ProcessCache()) tagger_.emplace(session, *cache);
}

EDecodeResult CPacketDecoder::Decode(std::span<const uint8_t> bytes, CTimeStamp time) {
  CIpPacket ip;
  if (const EReadResult r = ReadIpPacket(bytes, ip); r != EReadResult::kOk) return FromRead(r);

  const CCaptureOptions options = session_.Switches().Get();
  CTransportHeader t;
  EReadResult read = EReadResult::kOk;
  if (ip.protocol == kProtocolTcp) {
    if (!options.tcp) return EDecodeResult::kSwitchedOff;
    if (!ip.LaterFragment()) read = ReadTcpHeader(ip, t);
  } else if (ip.protocol == kProtocolUdp) {
    if (!options.udp) return EDecodeResult::kSwitchedOff;
    if (!ip.LaterFragment()) read = ReadUdpHeader(ip, t);
  } else {
    return EDecodeResult::kProtocol;
  }
  // A later fragment carries no transport header: its ports, sequence
  // numbers and flags stay 0 and every byte after the IP headers is payload.
  if (read != EReadResult::kOk) return FromRead(read);

  const int headerLength = ip.headerLength + t.headerLength;
  if (ip.totalLength <= headerLength) return EDecodeResult::kNoPayload;
  // The payload starts after the whole transport header (options included);
  // a frame cut short inside it has no place where the payload begins.
  const CByteReader reader(ip.bytes);
  if (!reader.Has(0, static_cast<std::size_t>(headerLength))) return EDecodeResult::kTruncated;

  EDirection direction = EDirection::kNone;
  try {
    direction = PacketDirection(local_, ip.source, t.sourcePort, ip.destination, t.destinationPort,
                                options.role);
  } catch (const std::exception&) {
    direction = EDirection::kNone;
  }
  if (direction == EDirection::kNone) return EDecodeResult::kNotLocal;

  const CPacketFields f = Classify(ip, t, direction, time);
  // The rules keep their own synchronisation and counts, so the filter runs
  // before the traffic lock is taken.
  if (!session_.Filters().Admit(f.remote, f.remotePort, static_cast<uint64_t>(f.totalLength))) {
    return EDecodeResult::kFiltered;
  }

  // Ethernet pads short frames; the bytes past the claimed length are
  // padding, never payload.
  const std::span<const uint8_t> payload =
      reader.Slice(static_cast<std::size_t>(headerLength), static_cast<std::size_t>(ip.totalLength));
  try {
    // Names are read before the traffic lock is taken.
    const std::optional<std::string> name = names_.Read(f, payload);
    const CRecordedPacket recorded = session_.Record(f, payload, name ? &*name : nullptr);
    if (tagger_) {
      if (recorded.askOwner) tagger_->Ask(f, recorded, IsLocalHost(local_, f.remote));
      // Answers take milliseconds; looking for them every few packets is
      // soon enough, and an idle trace looks at every read time-out.
      if (++sinceLanded_ == kLandEvery) {
        sinceLanded_ = 0;
        tagger_->Land();
      }
    }
  } catch (const std::exception&) {
    // What was updated stays (counters may stand without a record); the
    // packet's processing ends here.
    return EDecodeResult::kFailed;
  }
  return EDecodeResult::kRecorded;
}
