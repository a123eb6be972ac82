#include "output/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

COutputFile::~COutputFile() { Close(); }

bool COutputFile::Open(const std::string& name, Mode mode) {
  Close();
  // The files hold captured payloads: private to the user, and a link
  // planted at the name must not redirect them. O_NONBLOCK keeps a FIFO at
  // the name from blocking the open while the caller holds the traffic lock.
  int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  if (mode == Mode::kAppend) flags |= O_APPEND;
  if (mode == Mode::kTruncate) flags |= O_TRUNC;
  if (mode == Mode::kCreate) flags |= O_EXCL;
  const int fd = ::open(name.c_str(), flags, 0600);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error_ = EINVAL;
    ::close(fd);
    return false;
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  fd_ = fd;
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
      error_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

void COutputFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
