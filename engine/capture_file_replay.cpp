#include "engine/capture_file_replay.h"

#include <pcap/pcap.h>

#include <map>
#include <memory>
#include <span>

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

bool Counted(const CIpAddr& a) {
  if (a == CIpAddr{0, 0, 0, 0} || a == CIpAddr{255, 255, 255, 255}) return false;
  return a[0] < 224 || a[0] > 239;
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
    const auto ip = Ipv4FromFrame(linkType, std::span<const uint8_t>(data, header->caplen));
    const bool recorded = ip && decoder.Decode(*ip, time) == EDecodeResult::kRecorded;
    if (recorded) ++result.framesRecorded;
    if (afterFrame) afterFrame(recorded);
  }
  return result;
}

std::optional<CIpAddr> MostFrequentAddress(const std::string& path, std::string* error,
                                           std::size_t frameLimit) {
  std::string failure;
  CHandle handle = OpenFile(path, failure);
  if (!handle) {
    if (error != nullptr) *error = failure;
    return std::nullopt;
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
    const auto ipv4 = Ipv4FromFrame(linkType, std::span<const uint8_t>(data, header->caplen));
    if (!ipv4) continue;
    CByteReader r(*ipv4);
    if (!r.Has(12, 8)) continue;
    ++frames;
    for (std::size_t offset : {12u, 16u}) {
      CIpAddr a{r.U8(offset), r.U8(offset + 1), r.U8(offset + 2), r.U8(offset + 3)};
      if (!Counted(a)) continue;
      Seen& s = seen.try_emplace(a, Seen{0, seen.size()}).first->second;
      ++s.count;
    }
  }
  std::optional<CIpAddr> best;
  Seen bestSeen;
  for (const auto& [address, s] : seen) {
    if (!best || s.count > bestSeen.count ||
        (s.count == bestSeen.count && s.order < bestSeen.order)) {
      best = address;
      bestSeen = s;
    }
  }
  return best;
}
