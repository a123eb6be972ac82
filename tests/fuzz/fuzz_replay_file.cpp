// An arbitrary capture file through the replay: the capture library's file
// reader, the link-layer step, the decoder and a log pass of every kind.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "engine/app_state.h"
#include "engine/capture_file_replay.h"
#include "engine/interface_record.h"
#include "model/traffic_model.h"
#include "output/log_writer.h"

namespace {

// One file and one log directory per process, reused for every input.
struct CScratch {
  CScratch() {
    char pattern[] = "/tmp/trafalyn-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    dir = pattern;
    file = dir + "/input.pcap";
  }
  ~CScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::string dir;
  std::string file;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static CScratch scratch;
  std::FILE* f = std::fopen(scratch.file.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);

  CAppState state;
  state.logDir = scratch.dir;
  CInterfaceRecord local;
  const auto address = MostFrequentAddress(scratch.file);
  if (address) local.addresses.push_back(*address);
  ReplayCaptureFile(state, scratch.file, local);

  std::lock_guard<std::mutex> lock(state.trafficLock);
  // The final pass writes every conversation and recent packet; the files
  // are emptied again so that the directory does not grow.
  state.logToFile = 1;
  WriteLogs(state.Model(), 1, 1, 1, size % 2, state.Model().lastFlushTime);
  for (const auto& entry : std::filesystem::directory_iterator(scratch.dir)) {
    if (entry.path() != scratch.file) std::filesystem::remove(entry.path());
  }
  return 0;
}
