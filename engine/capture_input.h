#pragma once
#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "wire/time_stamp.h"

// One capture file (pcap or pcapng) opened once for a whole replay: a
// regular file, a FIFO, or standard input ("-"). What cannot be read twice
// is read once: a look ahead (the local-address guess) keeps the frames it
// read, and Next hands them out again before it reads on.
//
// One thread at a time.
class CCaptureInput {
 public:
  // At most this much is kept by a look ahead, whichever comes first.
  static constexpr std::size_t kLookAheadFrames = 10000;
  static constexpr std::size_t kLookAheadBytes = std::size_t{32} << 20;

  // Opens `path` ("-": standard input) and checks its link type; Ok() says
  // whether that worked, Error() why not.
  explicit CCaptureInput(const std::string& path);
  ~CCaptureInput();

  CCaptureInput(const CCaptureInput&) = delete;
  CCaptureInput& operator=(const CCaptureInput&) = delete;

  bool Ok() const { return handle_ != nullptr; }
  const std::string& Path() const { return path_; }
  int LinkType() const { return linkType_; }

  struct CFrame {
    CTimeStamp time;
    std::span<const uint8_t> bytes;  // valid until the next call
  };
  enum class ERead { kFrame, kEnd, kError };

  // The next frame. kError leaves the library's text in Error(); frames
  // read before it stay valid. Once per frame: the usual case is inline.
  ERead Next(CFrame& frame) {
    if (kept_.empty() && !readEnded_) return Read(frame);
    return NextAfterLookAhead(frame);
  }

  // Reads up to `frames` frames ahead (at most kLookAheadBytes of them)
  // and keeps them for Next; the kept frames, oldest first. Reading stops
  // early at the end of the input or at an error, which Next reports after
  // the kept frames.
  // Call it once, before Next; the frames stay valid until Next has handed
  // them all out.
  std::vector<CFrame> LookAhead(std::size_t frames = kLookAheadFrames);

  const std::string& Error() const { return error_; }

 private:
  struct CKept {
    CTimeStamp time;
    std::size_t offset;
    std::size_t length;
  };
  // The longest frame the library hands out (its largest snapshot length).
  static constexpr std::size_t kLargestFrame = 262144;

  // One frame from the library.
  ERead Read(CFrame& frame);
  // Next once a look ahead ran: its frames first, then how it ended or the
  // library's next frame.
  ERead NextAfterLookAhead(CFrame& frame);

  // The stream's buffer: the library reads each frame in two small reads,
  // and a large buffer turns them into copies from memory, with one
  // system call per kStreamBuffer bytes. Declared before the handle, whose
  // stream uses it until the handle is closed.
  static constexpr std::size_t kStreamBuffer = std::size_t{64} << 10;
  std::unique_ptr<char[]> streamBuffer_;
  std::string path_;
  pcap_t* handle_ = nullptr;
  int linkType_ = 0;
  std::string error_;
  std::vector<uint8_t> keptBytes_;
  std::vector<CKept> kept_;
  std::size_t nextKept_ = 0;
  bool readEnded_ = false;  // the look ahead met the end or an error
  ERead endedWith_ = ERead::kEnd;
};
