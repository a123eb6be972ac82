// An arbitrary capture file through the replay: the capture library's file
// reader, the local-address guess that reads ahead and the replay of what
// it kept, the link-layer step, the decoder and the logs of both kinds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/capture_file_replay.h"
#include "engine/traffic_engine.h"

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

  {
    // The replay writes both logs on the capture clock, with passes and the
    // final pass; the files are emptied again so that the folder does not grow.
    CTrafficEngine engine;
    engine.SetLogOptions({true, true, true, size % 2 == 1, scratch.dir});
    // A short look ahead on odd sizes, so that the replay also continues
    // from the file past the kept frames.
    CCaptureInput input(scratch.file);
    const std::vector<CIpAddr> local = MostFrequentAddresses(input, nullptr, size % 2 == 1 ? 2 : 10000);
    engine.Replay(input, local, nullptr);
  }
  for (const auto& entry : std::filesystem::directory_iterator(scratch.dir)) {
    if (entry.path() != scratch.file) std::filesystem::remove(entry.path());
  }
  return 0;
}
