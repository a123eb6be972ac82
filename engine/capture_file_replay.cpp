#include "engine/capture_file_replay.h"

#include <map>
#include <span>
#include <vector>

#include "engine/capture_session.h"
#include "engine/interface_record.h"
#include "engine/packet_decoder.h"
#include "wire/byte_reader.h"
#include "wire/link_layer.h"

namespace {

// Addresses no single host owns: unspecified, broadcast and multicast.
bool Counted(const CIpAddr& a) {
  if (a.IsV6()) return a != CIpAddr::V6(std::array<uint8_t, 16>{}) && a[0] != 0xFF;
  if (a == CIpAddr{0, 0, 0, 0} || a == CIpAddr{255, 255, 255, 255}) return false;
  return a[0] < 224 || a[0] > 239;
}

// The source and destination of an IP packet, or false when its header
// was not captured that far.
bool EndAddresses(std::span<const uint8_t> ip, CIpAddr& source, CIpAddr& destination) {
  CByteReader r(ip);
  const int version = r.U8(0) >> 4;
  if (version == 4 && r.Has(12, 8)) {
    source = CIpAddr::V4(ip.subspan<12, 4>());
    destination = CIpAddr::V4(ip.subspan<16, 4>());
    return true;
  }
  if (version == 6 && r.Has(8, 32)) {
    source = CIpAddr::V6(ip.subspan<8, 16>());
    destination = CIpAddr::V6(ip.subspan<24, 16>());
    return true;
  }
  return false;
}

}  // namespace

CReplayResult ReplayCaptureFile(CCaptureSession& session, CCaptureInput& input,
                                const CInterfaceRecord& local, const std::atomic<bool>* keepGoing,
                                const std::function<void(bool)>& afterFrame) {
  CReplayResult result;
  if (!input.Ok()) {
    result.error = input.Error();
    return result;
  }
  const int linkType = input.LinkType();
  CPacketDecoder decoder(session, local);
  for (;;) {
    if (keepGoing != nullptr && !keepGoing->load(std::memory_order_relaxed)) {
      result.cancelled = true;
      break;
    }
    CCaptureInput::CFrame frame;
    const CCaptureInput::ERead status = input.Next(frame);
    if (status == CCaptureInput::ERead::kEnd) break;
    if (status == CCaptureInput::ERead::kError) {
      result.error = input.Error();
      break;
    }
    ++result.framesRead;
    session.Clock().Advance(frame.time.sec);
    const auto ip = IpFromFrame(linkType, frame.bytes);
    const bool recorded = ip && decoder.Decode(*ip, frame.time) == EDecodeResult::kRecorded;
    if (recorded) ++result.framesRecorded;
    if (afterFrame) afterFrame(recorded);
  }
  return result;
}

CReplayResult ReplayCaptureFile(CCaptureSession& session, const std::string& path,
                                const CInterfaceRecord& local, const std::atomic<bool>* keepGoing,
                                const std::function<void(bool)>& afterFrame) {
  CCaptureInput input(path);
  return ReplayCaptureFile(session, input, local, keepGoing, afterFrame);
}

std::vector<CIpAddr> MostFrequentAddresses(CCaptureInput& input, std::string* error,
                                           std::size_t frameLimit) {
  if (!input.Ok()) {
    if (error != nullptr) *error = input.Error();
    return {};
  }
  const int linkType = input.LinkType();
  struct Seen {
    uint64_t count = 0;
    std::size_t order = 0;
  };
  std::map<CIpAddr, Seen> seen;
  const std::vector<CCaptureInput::CFrame> frames = input.LookAhead(frameLimit);
  // The frames before damage still count; the damage is reported too.
  if (error != nullptr) *error = input.Error();
  for (const CCaptureInput::CFrame& frame : frames) {
    const auto ip = IpFromFrame(linkType, frame.bytes);
    CIpAddr ends[2];
    if (!ip || !EndAddresses(*ip, ends[0], ends[1])) continue;
    for (const CIpAddr& a : ends) {
      if (!Counted(a)) continue;
      Seen& s = seen.try_emplace(a, Seen{0, seen.size()}).first->second;
      ++s.count;
    }
  }
  // The map holds IPv4 before IPv6, so the winners come out in that order.
  std::vector<CIpAddr> best;
  Seen bestSeen;
  for (const auto& [address, s] : seen) {
    const bool newFamily = best.empty() || best.back().Family() != address.Family();
    if (newFamily) {
      best.push_back(address);
      bestSeen = s;
    } else if (s.count > bestSeen.count || (s.count == bestSeen.count && s.order < bestSeen.order)) {
      best.back() = address;
      bestSeen = s;
    }
  }
  return best;
}
