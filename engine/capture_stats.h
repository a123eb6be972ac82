#pragma once
#include <cstdint>

// A snapshot of one trace's frame counters, for display.
struct CCaptureStats {
  uint64_t framesSeen = 0;      // frames the capture library delivered
  uint64_t framesRecorded = 0;  // frames the decoder recorded into the model
  uint64_t kernelDrops = 0;     // dropped for lack of buffer space (pcap_stats ps_drop)
  uint64_t interfaceDrops = 0;  // dropped by the interface or its driver (ps_ifdrop)
  uint64_t framesSaved = 0;     // written to the frame file
  uint64_t framesNotSaved = 0;  // meant for the frame file after it failed: data lost
};
