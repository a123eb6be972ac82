#pragma once
#include <string>
#include <string_view>

// A file the program writes payload bytes into (logs, exports). Such files
// hold what other hosts sent, passwords of clear-text protocols included, so
// they are the user's alone: a new one is made with O_CREAT|O_EXCL|
// O_NOFOLLOW and mode 0600, and a name already taken is used only when it is
// a regular file of the user's own (see Mode). Writes are whole: short
// writes are retried until every byte is out or the system refuses more
// (disk full). Not thread-safe; one owner.
class COutputFile {
 public:
  enum class Mode {
    // Only a new file: an existing name fails with EEXIST.
    kCreate,
    // A new file, or an existing one to write at the end of, if it is a
    // regular file owned by the user and writable by no one else; its mode
    // is tightened to 0600.
    kAppend,
    // A new private file in the same directory, put in place of the name by
    // Commit, so that readers see the old file or the whole new one. An
    // existing name must be a regular file owned by the user.
    kReplace,
  };

  COutputFile() = default;
  // Close(): a replacement that was not committed is removed.
  ~COutputFile();
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  // False when it cannot be opened; LastError() and Reason() then say why.
  bool Open(const std::string& name, Mode mode);
  bool IsOpen() const { return fd_ >= 0; }
  // The errno value of the last failure (EEXIST for a name taken in
  // kCreate mode); 0 when nothing failed.
  int LastError() const { return error_; }
  // The last failure for the user: the system's text of LastError(), or
  // what made an existing file unfit ("a symbolic link", "owned by another
  // user", ...).
  const std::string& Reason() const { return reason_; }

  // True when all of `text` was written.
  bool Write(std::string_view text);

  // kReplace: flushes the written file to the disk and renames it over the
  // name. False, with the name untouched and the new file removed, when
  // that fails. Other modes: Close(), true.
  bool Commit();

  // Ends the writing; an uncommitted replacement is removed.
  void Close();

  // Checks before the work that `name` could be replaced: a new private
  // file can be made in its directory (one is made and removed again), and
  // anything at the name is a regular file of the user's. False, with
  // `reason` set, when not.
  static bool CanReplace(const std::string& name, std::string& reason);
  // The same for new files in the directory `dir`.
  static bool CanCreateIn(const std::string& dir, std::string& reason);

 private:
  bool Fail(int error, std::string reason);
  bool OpenAppend(const std::string& name);
  bool OpenReplacement(const std::string& name);

  int fd_ = -1;
  int error_ = 0;
  std::string reason_;
  std::string target_;  // kReplace: the name to put the file in place of
  std::string temp_;    // kReplace: the file written until then
};
