#include "flows/frame_saver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "flows/private_file.h"

namespace {

constexpr uint64_t kFileHeaderBytes = 24;
constexpr uint64_t kRecordHeaderBytes = 16;
// Larger than stdio's default so that most frames cost no system call; the
// capture thread then waits on the disk once per 64 KiB at most.
constexpr std::size_t kWriteBuffer = 64 * 1024;

std::string Numbered(const std::string& path, unsigned k) {
  return k == 0 ? path : path + "." + std::to_string(k);
}

}  // namespace

CFrameSaver::CFrameSaver(Options options)
    : options_(std::move(options)), limitBytes_(options_.limitMiB << 20) {}

CFrameSaver::~CFrameSaver() {
  Close();
  if (dead_) pcap_close(dead_);
}

bool CFrameSaver::Open(std::string* error) {
  Close();
  failed_ = false;
  if (!dead_) dead_ = pcap_open_dead(options_.linkType, options_.snapLength);
  if (!dead_) {
    if (error) *error = "The capture library cannot describe this trace.";
    return false;
  }
  if (!OpenFile(error)) return false;
  saving_.store(true);
  return true;
}

bool CFrameSaver::OpenFile(std::string* error) {
  const int fd = CreatePrivateFile(options_.path, error);
  if (fd < 0) return false;
  FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    if (error) *error = options_.path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  ::setvbuf(f, nullptr, _IOFBF, kWriteBuffer);
  dumper_ = pcap_dump_fopen(dead_, f);
  if (!dumper_) {
    if (error) *error = options_.path + ": " + pcap_geterr(dead_);
    ::fclose(f);
    return false;
  }
  file_ = f;
  fileBytes_ = kFileHeaderBytes;
  return true;
}

void CFrameSaver::CloseFile() {
  if (!dumper_) return;
  const bool flushed = pcap_dump_flush(dumper_) == 0;
  const int e = errno;
  pcap_dump_close(dumper_);
  dumper_ = nullptr;
  file_ = nullptr;
  if (!flushed) Stop(std::strerror(e));
}

void CFrameSaver::Close() {
  CloseFile();
  saving_.store(false);
}

bool CFrameSaver::Rotate() {
  CloseFile();
  if (failed_) return false;
  const unsigned keep = std::max(options_.keepFiles, 1u);
  // Oldest first, so that each rename lands on a name just vacated; the
  // rename onto FILE.(keep-1) drops the oldest file. A missing older file
  // is no fault: the ring has not filled yet.
  for (unsigned k = keep - 1; k >= 1; --k) {
    if (::rename(Numbered(options_.path, k - 1).c_str(), Numbered(options_.path, k).c_str()) != 0 &&
        (k == 1 || errno != ENOENT)) {
      Stop(std::strerror(errno));
      return false;
    }
  }
  std::string error;
  if (!OpenFile(&error)) {
    Stop(error);
    return false;
  }
  return true;
}

void CFrameSaver::Stop(const std::string& why) {
  if (failed_) return;
  failed_ = true;
  saving_.store(false);
  if (dumper_) {
    pcap_dump_close(dumper_);  // its final flush fails as well; nothing more to say
    dumper_ = nullptr;
    file_ = nullptr;
  }
  if (options_.onStopped)
    options_.onStopped("Saving frames to " + options_.path + " stopped: " + why);
}

void CFrameSaver::Save(const pcap_pkthdr& header, const uint8_t* bytes) {
  if (!dumper_) {
    if (failed_) lost_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  pcap_pkthdr h = header;
  h.caplen = std::min<bpf_u_int32>(h.caplen, static_cast<bpf_u_int32>(options_.snapLength));
  const uint64_t need = kRecordHeaderBytes + h.caplen;
  if (limitBytes_ > 0 && fileBytes_ > kFileHeaderBytes && fileBytes_ + need > limitBytes_ &&
      !Rotate()) {
    lost_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  pcap_dump(reinterpret_cast<u_char*>(dumper_), &h, bytes);
  if (std::ferror(file_)) {
    lost_.fetch_add(1, std::memory_order_relaxed);
    Stop(std::strerror(errno));
    return;
  }
  fileBytes_ += need;
  saved_.fetch_add(1, std::memory_order_relaxed);
}
