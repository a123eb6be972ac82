#include "engine/capture_input.h"

#include <stdio_ext.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "wire/link_layer.h"

namespace {

// The stream pcap_open_offline would read, opened here so that it gets a
// larger buffer: "-" is standard input; a FIFO reads like a file, only
// ever forward. Null with the library's own text in `error` when it
// cannot be opened.
std::FILE* OpenStream(const std::string& path, std::string& error) {
  if (path == "-") return stdin;
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) error = path + ": " + std::strerror(errno);
  return stream;
}

}  // namespace

CCaptureInput::CCaptureInput(const std::string& path) : path_(path) {
  std::FILE* stream = OpenStream(path, error_);
  if (stream == nullptr) return;
  // Standard input outlives this object, so it keeps its own buffer.
  if (stream != stdin) {
    streamBuffer_ = std::make_unique<char[]>(kStreamBuffer);
    std::setvbuf(stream, streamBuffer_.get(), _IOFBF, kStreamBuffer);
    // One thread at a time reads the input: the stream's own lock, taken
    // twice per frame, guards nothing.
    __fsetlocking(stream, FSETLOCKING_BYCALLER);
  }
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  // The handle owns the stream from here on and closes it (standard input
  // excepted), as pcap_open_offline's handle does.
  handle_ = pcap_fopen_offline(stream, errbuf);
  if (handle_ == nullptr) {
    if (stream != stdin) std::fclose(stream);
    error_ = errbuf;
    return;
  }
  linkType_ = pcap_datalink(handle_);
  if (!IsSupportedLinkType(linkType_)) {
    char number[16];
    error_ = std::string("the link type ") + LinkTypeName(linkType_, number) + " of " + path +
             " cannot be decoded";
    pcap_close(handle_);
    handle_ = nullptr;
  }
}

CCaptureInput::~CCaptureInput() {
  if (handle_ != nullptr) pcap_close(handle_);
}

CCaptureInput::ERead CCaptureInput::Read(CFrame& frame) {
  if (handle_ == nullptr) return ERead::kError;
  for (;;) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int status = pcap_next_ex(handle_, &header, &data);
    if (status == PCAP_ERROR_BREAK) return ERead::kEnd;
    if (status < 0) {
      error_ = pcap_geterr(handle_);
      return ERead::kError;
    }
    if (status == 0) continue;
    frame.time = {static_cast<int32_t>(header->ts.tv_sec), static_cast<int32_t>(header->ts.tv_usec)};
    frame.bytes = std::span<const uint8_t>(data, header->caplen);
    return ERead::kFrame;
  }
}

CCaptureInput::ERead CCaptureInput::NextAfterLookAhead(CFrame& frame) {
  if (nextKept_ < kept_.size()) {
    const CKept& k = kept_[nextKept_++];
    frame.time = k.time;
    frame.bytes = std::span<const uint8_t>(keptBytes_).subspan(k.offset, k.length);
    return ERead::kFrame;
  }
  if (!kept_.empty()) {
    // Every kept frame was handed out: the look ahead's memory goes back.
    // The last of them stays valid until this call, which is the next.
    std::vector<uint8_t>().swap(keptBytes_);
    std::vector<CKept>().swap(kept_);
    nextKept_ = 0;
  }
  if (readEnded_) return endedWith_;
  return Read(frame);
}

std::vector<CCaptureInput::CFrame> CCaptureInput::LookAhead(std::size_t frames) {
  // Room for the whole bound at once: pages never written take no memory,
  // and the kept frames are never moved while they are read.
  if (keptBytes_.capacity() < kLookAheadBytes) keptBytes_.reserve(kLookAheadBytes);
  CFrame frame;
  // Stops while the largest frame the library reads still fits.
  while (!readEnded_ && kept_.size() < frames && keptBytes_.size() + kLargestFrame <= kLookAheadBytes) {
    const ERead status = Read(frame);
    if (status != ERead::kFrame) {
      readEnded_ = true;
      endedWith_ = status;
      break;
    }
    kept_.push_back({frame.time, keptBytes_.size(), frame.bytes.size()});
    keptBytes_.insert(keptBytes_.end(), frame.bytes.begin(), frame.bytes.end());
  }
  std::vector<CFrame> out;
  out.reserve(kept_.size());
  for (const CKept& k : kept_) {
    out.push_back({k.time, std::span<const uint8_t>(keptBytes_).subspan(k.offset, k.length)});
  }
  return out;
}
