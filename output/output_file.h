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
  enum class Mode {
    kAppend,    // create if missing, write at the end
    kTruncate,  // create if missing, empty it
    kCreate,    // only a new file: an existing name fails with EEXIST
  };

  COutputFile() = default;
  ~COutputFile();
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  // False when it cannot be opened; LastError() then says why (an errno
  // value).
  bool Open(const std::string& name, Mode mode);
  bool IsOpen() const { return fd_ >= 0; }
  int LastError() const { return error_; }

  // True when all of `text` was written.
  bool Write(std::string_view text);

  void Close();

 private:
  int fd_ = -1;
  int error_ = 0;
};
