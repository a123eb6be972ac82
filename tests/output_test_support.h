#pragma once
// Shared helpers of the output tests: time zones, temporary directories,
// file contents and packet records with chosen payloads.
#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "model/packet_record.h"
#include "model_test_support.h"

// 2006-12-05 14:03:07 UTC.
inline constexpr int32_t kStampSeconds = 1165327387;

inline const std::atomic<int> kNoQuit{0};

// Sets TZ for the scope and restores the previous value.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) {
      had_ = true;
      old_ = old;
    }
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

// A fresh directory under /tmp, removed with its files at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/trafalyn-output-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made != nullptr) path_ = made;
  }
  ~TempDir() { Remove(path_); }
  const std::string& Path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  static void Remove(const std::string& path) {
    if (path.empty()) return;
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        const std::string child = path + "/" + n;
        struct stat st {};
        if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
          Remove(child);
        } else {
          unlink(child.c_str());
        }
      }
      closedir(d);
    }
    rmdir(path.c_str());
  }
  std::string path_;
};

// A 64 KiB tmpfs mounted at `path` for the scope, to make a disk run full.
// Mounted() is false where the test may not mount (not root, no namespace).
class SmallTmpfs {
 public:
  explicit SmallTmpfs(std::string path) : path_(std::move(path)) {
    if (mkdir(path_.c_str(), 0700) != 0) return;
    mounted_ = mount("none", path_.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool FileExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

inline std::span<const uint8_t> AsBytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// A record whose header claims `claimed` payload bytes and which kept the
// first of `payload` (all of it when it is not longer than `claimed`).
inline CPacketRef RecordWith(CPacketFields f, std::string_view payload, int claimed,
                             bool headerOnly = false) {
  f.totalLength = f.headerLength + claimed;
  return MakePacketRecord(f, headerOnly, AsBytes(payload));
}

inline CPacketRef RecordWith(const CPacketFields& f, std::string_view payload) {
  return RecordWith(f, payload, static_cast<int>(payload.size()));
}
