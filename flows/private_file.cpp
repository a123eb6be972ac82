#include "flows/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return -1;
}

}  // namespace

int CreatePrivateFile(const std::string& path, std::string* error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return Fail(error, path + ": " + std::strerror(errno));
    // O_EXCL also refuses a link planted after the lstat.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Fail(error, path + ": " + std::strerror(errno));
    return fd;
  }
  if (S_ISLNK(st.st_mode)) return Fail(error, path + " is a symbolic link; not written through it.");
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
    return Fail(error, path + " exists and is not a regular file of this user.");
  std::vector<char> temp(path.begin(), path.end());
  const char suffix[] = ".XXXXXX";
  temp.insert(temp.end(), suffix, suffix + sizeof suffix);  // with the terminating 0
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // 0600, O_EXCL
  if (fd < 0) return Fail(error, path + ": " + std::strerror(errno));
  // rename() replaces the name itself, whatever stands there by now.
  if (::rename(temp.data(), path.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.data());
    ::close(fd);
    return Fail(error, path + ": " + std::strerror(e));
  }
  return fd;
}
