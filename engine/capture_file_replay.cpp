#include "engine/capture_file_replay.h"

#include <pcap/pcap.h>

#include <map>
#include <memory>
#include <span>
#include <vector>

#include "engine/capture_session.h"
#include "engine/interface_record.h"
#include "engine/packet_decoder.h"
#include "wire/byte_reader.h"
#include "wire/link_layer.h"

namespace {

struct HandleClose {
  void operator()(pcap_t* handle) const { pcap_close(handle); }
};
using CHandle = std::unique_ptr<pcap_t, HandleClose>;

// Opens the file and checks its link type; null with `error` set otherwise.
CHandle OpenFile(const std::string& path, std::string& error) {
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  CHandle handle(pcap_open_offline(path.c_str(), errbuf));
  if (!handle) {
    error = errbuf;
    return handle;
  }
  const int linkType = pcap_datalink(handle.get());
  if (!IsSupportedLinkType(linkType)) {
    char number[16];
    error = std::string("the link type ") + LinkTypeName(linkType, number) + " of " + path +
            " cannot be decoded";
    handle.reset();
  }
  return handle;
}

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

CReplayResult ReplayCaptureFile(CCaptureSession& session, const std::string& path,
                                const CInterfaceRecord& local, const std::atomic<bool>* keepGoing,
                                const std::function<void(bool)>& afterFrame) {
  CReplayResult result;
  CHandle handle = OpenFile(path, result.error);
  if (!handle) return result;
  const int linkType = pcap_datalink(handle.get());

  CPacketDecoder decoder(session, local);
  for (;;) {
    if (keepGoing != nullptr && !keepGoing->load(std::memory_order_relaxed)) {
      result.cancelled = true;
      break;
    }
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int status = pcap_next_ex(handle.get(), &header, &data);
    if (status == PCAP_ERROR_BREAK) break;  // end of file
    if (status < 0) {
      result.error = pcap_geterr(handle.get());
      break;
    }
    if (status == 0) continue;
    const CTimeStamp time{static_cast<int32_t>(header->ts.tv_sec),
                          static_cast<int32_t>(header->ts.tv_usec)};
    ++result.framesRead;
    session.Clock().Advance(time.sec);
    const auto ip = IpFromFrame(linkType, std::span<const uint8_t>(data, header->caplen));
    const bool recorded = ip && decoder.Decode(*ip, time) == EDecodeResult::kRecorded;
    if (recorded) ++result.framesRecorded;
    if (afterFrame) afterFrame(recorded);
  }
  return result;
}

std::vector<CIpAddr> MostFrequentAddresses(const std::string& path, std::string* error,
                                           std::size_t frameLimit) {
  std::string failure;
  CHandle handle = OpenFile(path, failure);
  if (!handle) {
    if (error != nullptr) *error = failure;
    return {};
  }
  const int linkType = pcap_datalink(handle.get());
  struct Seen {
    uint64_t count = 0;
    std::size_t order = 0;
  };
  std::map<CIpAddr, Seen> seen;
  std::size_t frames = 0;
  while (frames < frameLimit) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int status = pcap_next_ex(handle.get(), &header, &data);
    if (status == PCAP_ERROR_BREAK) break;
    if (status < 0) {
      if (error != nullptr) *error = pcap_geterr(handle.get());
      break;
    }
    if (status == 0) continue;
    const auto ip = IpFromFrame(linkType, std::span<const uint8_t>(data, header->caplen));
    CIpAddr ends[2];
    if (!ip || !EndAddresses(*ip, ends[0], ends[1])) continue;
    ++frames;
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
