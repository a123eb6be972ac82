#include "output/output_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What makes an existing file at an output name unfit, or nothing. Another
// user's file would stay theirs, readable as they please; one that others
// may write to could be read or changed by them while it fills.
const char* Unfit(const struct stat& st, bool appending) {
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (st.st_uid != ::geteuid()) return "owned by another user";
  if (appending && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "writable by group or others";
  return nullptr;
}

struct CSplitName {
  std::string dir;
  std::string base;
};

CSplitName Split(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos) return {".", name};
  return {slash == 0 ? "/" : name.substr(0, slash), name.substr(slash + 1)};
}

// A new private file (mode 0600, O_EXCL) from `pattern`, which ends in
// XXXXXX and receives the name made.
int MakeTemporary(std::string& pattern) { return ::mkostemp(pattern.data(), O_CLOEXEC); }

std::string TemporaryPattern(const CSplitName& n) {
  // Hidden, and short enough for the system's name limit whatever the
  // target's name.
  return n.dir + "/." + n.base.substr(0, 200) + ".XXXXXX";
}

}  // namespace

COutputFile::~COutputFile() { Close(); }

bool COutputFile::Fail(int error, std::string reason) {
  error_ = error;
  reason_ = std::move(reason);
  return false;
}

bool COutputFile::Open(const std::string& name, Mode mode) {
  Close();
  error_ = 0;
  reason_.clear();
  if (mode == Mode::kAppend) return OpenAppend(name);
  if (mode == Mode::kReplace) return OpenReplacement(name);
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Fail(errno, std::strerror(errno));
  fd_ = fd;
  return true;
}

bool COutputFile::OpenAppend(const std::string& name) {
  int fd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    fd_ = fd;
    return true;
  }
  if (errno != EEXIST) return Fail(errno, std::strerror(errno));
  // Looked at before opening, so that a FIFO or a device at the name is
  // named as such and never opened.
  struct stat st {};
  if (::lstat(name.c_str(), &st) != 0) return Fail(errno, std::strerror(errno));
  if (const char* unfit = Unfit(st, true)) return Fail(EPERM, unfit);
  // O_NONBLOCK: should a FIFO take the file's place meanwhile, the open
  // must not wait for a reader.
  fd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Fail(errno, std::strerror(errno));
  struct stat opened {};
  const char* unfit = ::fstat(fd, &opened) != 0 ? "not a regular file" : Unfit(opened, true);
  if (unfit == nullptr && (opened.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) {
    unfit = "its mode cannot be set to 0600";
  }
  if (unfit != nullptr) {
    ::close(fd);
    return Fail(EPERM, unfit);
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  fd_ = fd;
  return true;
}

bool COutputFile::OpenReplacement(const std::string& name) {
  const CSplitName parts = Split(name);
  if (parts.base.empty()) return Fail(EISDIR, std::strerror(EISDIR));
  struct stat st {};
  if (::lstat(name.c_str(), &st) == 0) {
    if (const char* unfit = Unfit(st, false)) return Fail(EPERM, unfit);
  } else if (errno != ENOENT) {
    return Fail(errno, std::strerror(errno));
  }
  std::string temp = TemporaryPattern(parts);
  const int fd = MakeTemporary(temp);
  if (fd < 0) return Fail(errno, std::strerror(errno));
  fd_ = fd;
  target_ = name;
  temp_ = std::move(temp);
  return true;
}

bool COutputFile::Write(std::string_view text) {
  if (fd_ < 0) return false;
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      return Fail(error, std::strerror(error));
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool COutputFile::Commit() {
  if (temp_.empty()) {
    Close();
    return true;
  }
  // A file system that allocates late reports a full disk only here; the
  // old file must not be replaced by a hollow one.
  bool ok = ::fsync(fd_) == 0;
  if (!ok) Fail(errno, std::strerror(errno));
  const int closed = ::close(fd_);
  fd_ = -1;
  if (ok && closed != 0) ok = Fail(errno, std::strerror(errno));
  if (ok && ::rename(temp_.c_str(), target_.c_str()) != 0) ok = Fail(errno, std::strerror(errno));
  if (!ok) ::unlink(temp_.c_str());
  temp_.clear();
  target_.clear();
  return ok;
}

void COutputFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  target_.clear();
}

bool COutputFile::CanCreateIn(const std::string& dir, std::string& reason) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    reason = "not a directory";
    return false;
  }
  // Permission bits do not tell (root, read-only mounts, quotas): make a
  // file, as the work will.
  std::string probe = TemporaryPattern({dir, "trafalyn"});
  const int fd = MakeTemporary(probe);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

bool COutputFile::CanReplace(const std::string& name, std::string& reason) {
  const CSplitName parts = Split(name);
  if (parts.base.empty()) {
    reason = std::strerror(EISDIR);
    return false;
  }
  struct stat st {};
  if (::lstat(name.c_str(), &st) == 0) {
    if (const char* unfit = Unfit(st, false)) {
      reason = unfit;
      return false;
    }
  } else if (errno != ENOENT) {
    reason = std::strerror(errno);
    return false;
  }
  return CanCreateIn(parts.dir, reason);
}
