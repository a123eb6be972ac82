#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "wire/ip_address.h"

class CAppState;
class CInterfaceRecord;

// What a replay did.
struct CReplayResult {
  uint64_t framesRead = 0;      // frames read from the file
  uint64_t framesRecorded = 0;  // frames the decoder recorded into the model
  bool cancelled = false;       // the caller's keep-going flag went to 0
  // Empty when the whole file was read. Otherwise why reading stopped: the
  // file could not be opened, its link type is not supported, or it is
  // damaged (the capture library's text). Frames read before the damage
  // stay recorded.
  std::string error;

  bool Ok() const { return error.empty(); }
};

// Feeds every frame of a pcap or pcapng file through the same link-layer step
// and decoder as a live trace, as fast as it can. `local` holds the addresses
// that count as the local host. The log pass runs by the capture clock: the
// newest frame time stamp read stands for "now", and the last-flush time
// starts at the first frame's time.
//
// Runs on the caller's thread, which must not hold the traffic lock: each
// packet takes it, so pages may read the model meanwhile. While `keepGoing`
// (optional) is 0 the replay stops before its next frame. Must not run at
// the same time as a live trace or another replay.
CReplayResult ReplayCaptureFile(CAppState& state, const std::string& path,
                                const CInterfaceRecord& local,
                                const std::atomic<int>* keepGoing = nullptr);

// The address seen most often as source or destination of the first
// `frameLimit` IPv4 frames of a capture file: a sensible local address for a
// replay. Broadcast, multicast and 0.0.0.0 are not counted; a tie goes to the
// address seen first. Nothing when the file holds no such frame; `error`
// (optional) receives the library's text when the file cannot be read to the
// limit.
std::optional<CIpAddr> MostFrequentAddress(const std::string& path, std::string* error = nullptr,
                                           std::size_t frameLimit = 10000);
