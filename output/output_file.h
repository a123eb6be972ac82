#pragma once
#include <string>
#include <string_view>

// A file the program writes payload bytes into (logs, exports). It is made
// with mode 0600, is never opened through a symbolic link, and must be a
// regular file: a link, a FIFO or a device at the name counts as "cannot
// open". Writes are whole: short writes are retried until every byte is out
// or the system refuses more (disk full). Not thread-safe; one owner.
class COutputFile {
 public:
  enum class Mode { kAppend, kTruncate };

  COutputFile() = default;
  ~COutputFile();
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  // Creates the file if it does not exist. False when it cannot be opened.
  bool Open(const std::string& name, Mode mode);
  bool IsOpen() const { return fd_ >= 0; }

  // True when all of `text` was written.
  bool Write(std::string_view text);

  void Close();

 private:
  int fd_ = -1;
};
