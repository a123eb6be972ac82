#pragma once
#include <pcap/pcap.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Saves the frames of a trace into a capture file with libpcap's own
// writer, optionally in a ring of size-limited files: FILE holds the
// newest frames, FILE.1 the ones before, up to FILE.(keepFiles-1).
//
// A write that fails (the disk is full) turns saving off for good and calls
// `onStopped` once with a sentence for the user; frames offered afterwards
// are counted as lost.
//
// Threads: Open and Close belong to the owner while no Save runs (before
// the capture thread starts, after it ended); Save to the capture thread;
// Saving, FramesSaved and FramesLost to any thread.
class CFrameSaver {
 public:
  struct Options {
    std::string path;
    int linkType = DLT_EN10MB;  // of the trace
    int snapLength = 65536;     // of the trace; longer frames are cut to it
    uint64_t limitMiB = 0;      // a file grows to at most this; 0: no limit
    unsigned keepFiles = 5;     // files in the ring, FILE included (at least 1)
    // Called on the thread that was saving (the capture thread) when saving
    // stops by itself. It must only hand the text on (post it).
    std::function<void(const std::string& message)> onStopped;
  };

  explicit CFrameSaver(Options options);
  // Close().
  ~CFrameSaver();
  CFrameSaver(const CFrameSaver&) = delete;
  CFrameSaver& operator=(const CFrameSaver&) = delete;

  // Creates FILE under the rules of CreatePrivateFile and writes the file
  // header. False, with a sentence in `error` when given, when refused.
  bool Open(std::string* error = nullptr);

  // Writes one frame: `header` as the capture library delivered it and its
  // `header.caplen` bytes. At most one write to the disk; when the file
  // reaches the limit, the ring turns first (renames and one new file).
  void Save(const pcap_pkthdr& header, const uint8_t* bytes);

  // Writes out what is buffered and closes the file. A failure then stops
  // saving like a failed write.
  void Close();

  bool Saving() const { return saving_.load(std::memory_order_relaxed); }
  uint64_t FramesSaved() const { return saved_.load(std::memory_order_relaxed); }
  // Frames offered while saving was off after a failure: data lost.
  uint64_t FramesLost() const { return lost_.load(std::memory_order_relaxed); }

 private:
  bool OpenFile(std::string* error);
  void CloseFile();
  bool Rotate();
  void Stop(const std::string& why);

  const Options options_;
  const uint64_t limitBytes_;
  pcap_t* dead_ = nullptr;        // describes the trace to the writer
  pcap_dumper_t* dumper_ = nullptr;
  FILE* file_ = nullptr;          // owned by dumper_
  uint64_t fileBytes_ = 0;        // written to the current file, header included
  bool failed_ = false;
  std::atomic<bool> saving_{false};
  std::atomic<uint64_t> saved_{0};
  std::atomic<uint64_t> lost_{0};
};
