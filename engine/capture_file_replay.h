#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/capture_input.h"
#include "wire/ip_address.h"

class CCaptureSession;
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

// Feeds every frame of a capture input through the same link-layer step and
// decoder as a live trace, as fast as it can, into `session`, whose clock
// must be a capture clock: it moves to each frame's time stamp. `local` holds
// the addresses that count as the local host. After each frame,
// `afterFrame` (optional) is called with whether the frame was recorded,
// with no lock held: the log service's pass runs there, by the capture clock.
//
// Runs on the caller's thread, which must not hold the traffic lock: each
// packet takes it, so pages may read the model meanwhile. Once `keepGoing`
// (optional) is false the replay stops before its next frame. Nothing else
// may record into the session meanwhile.
CReplayResult ReplayCaptureFile(CCaptureSession& session, CCaptureInput& input,
                                const CInterfaceRecord& local,
                                const std::atomic<bool>* keepGoing = nullptr,
                                const std::function<void(bool recorded)>& afterFrame = {});
// The same for the file at `path`, opened here.
CReplayResult ReplayCaptureFile(CCaptureSession& session, const std::string& path,
                                const CInterfaceRecord& local,
                                const std::atomic<bool>* keepGoing = nullptr,
                                const std::function<void(bool recorded)>& afterFrame = {});

// For each family, the address seen most often as source or destination of
// the IP frames (IPv4 and IPv6 together) among the first `frameLimit` frames
// of a capture input: sensible local addresses for a replay. IPv4 comes
// first. The frames are read ahead (CCaptureInput::LookAhead, which also
// stops at kLookAheadBytes) and replayed later from memory, so the input is
// read only once. Unspecified, broadcast and multicast addresses are not
// counted; a tie goes to the address seen first. Empty when no such frame
// came; `error` (optional) receives the library's text when the input could
// not be opened or read to the limit.
std::vector<CIpAddr> MostFrequentAddresses(CCaptureInput& input, std::string* error = nullptr,
                                           std::size_t frameLimit = CCaptureInput::kLookAheadFrames);
