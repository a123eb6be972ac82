#include "processes/proc_socket_scanner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <vector>

#include "processes/raised_capabilities.h"

namespace {

constexpr std::string_view kSocketPrefix = "socket:[";
constexpr std::string_view kDeletedSuffix = " (deleted)";

bool ParsePid(const char* name, int32_t& pid) {
  const std::string_view s(name);
  if (s.empty() || s[0] < '1' || s[0] > '9') return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), pid);
  return ec == std::errc() && end == s.data() + s.size();
}

// The inode of a "socket:[N]" link, or 0.
uint64_t SocketInode(std::string_view link) {
  if (link.substr(0, kSocketPrefix.size()) != kSocketPrefix || link.back() != ']') return 0;
  uint64_t inode = 0;
  const char* first = link.data() + kSocketPrefix.size();
  const char* last = link.data() + link.size() - 1;
  const auto [end, ec] = std::from_chars(first, last, inode);
  return ec == std::errc() && end == last ? inode : 0;
}

// Reads a small text file whole; false when it cannot be read.
bool ReadSmallFile(const std::string& path, std::string& out) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[512];
  const ssize_t n = read(fd, buf, sizeof(buf));
  close(fd);
  if (n < 0) return false;
  out.assign(buf, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

CProcSocketScanner::CProcSocketScanner(std::string procRoot, bool raisePtrace)
    : root_(std::move(procRoot)), raisePtrace_(raisePtrace) {}

CProcScanResult CProcSocketScanner::Scan(const std::unordered_set<uint64_t>& inodes,
                                         std::span<const int32_t> firstPids) const {
  CProcScanResult result;
  if (inodes.empty()) return result;
  std::vector<int32_t> pids;
  if (DIR* d = opendir(root_.c_str())) {
    while (const dirent* e = readdir(d)) {
      int32_t pid = 0;
      if (ParsePid(e->d_name, pid)) pids.push_back(pid);
    }
    closedir(d);
  }
  // PIDs count up until they wrap, so the newest processes, the likeliest
  // owners of a socket that just appeared, come first.
  std::sort(pids.rbegin(), pids.rend());
  std::vector<int32_t> order;
  order.reserve(pids.size() + firstPids.size());
  for (int32_t pid : firstPids)
    if (std::binary_search(pids.rbegin(), pids.rend(), pid)) order.push_back(pid);
  for (int32_t pid : pids)
    if (std::find(firstPids.begin(), firstPids.end(), pid) == firstPids.end()) order.push_back(pid);

  const CRaisedCapabilities ptrace = raisePtrace_ ? CRaisedCapabilities({CAP_SYS_PTRACE})
                                                  : CRaisedCapabilities({});
  for (int32_t pid : order) {
    ScanProcess(pid, inodes, result);
    if (result.owners.size() == inodes.size()) {
      result.stoppedEarly = true;
      break;
    }
  }
  return result;
}

void CProcSocketScanner::ScanProcess(int32_t pid, const std::unordered_set<uint64_t>& inodes,
                                     CProcScanResult& result) const {
  const std::string dirPath = root_ + "/" + std::to_string(pid) + "/fd";
  DIR* d = opendir(dirPath.c_str());
  if (d == nullptr) {
    if (errno == EACCES || errno == EPERM) result.unreadableUids.insert(EffectiveUid(pid));
    return;
  }
  std::shared_ptr<const CProcessIdentity> identity;
  char link[64];
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const ssize_t n = readlinkat(dirfd(d), e->d_name, link, sizeof(link));
    if (n <= 0 || n == static_cast<ssize_t>(sizeof(link))) continue;
    const uint64_t inode = SocketInode(std::string_view(link, static_cast<std::size_t>(n)));
    if (inode == 0 || !inodes.contains(inode) || result.owners.contains(inode)) continue;
    if (!identity) identity = Identify(pid);
    if (!identity) break;  // the process ended while it was being read
    result.owners.emplace(inode, identity);
  }
  closedir(d);
}

std::shared_ptr<const CProcessIdentity> CProcSocketScanner::Identify(int32_t pid) const {
  const std::string base = root_ + "/" + std::to_string(pid);
  std::string comm;
  if (!ReadSmallFile(base + "/comm", comm)) return nullptr;
  while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0')) comm.pop_back();

  std::string exeBase;
  char target[4096];
  const ssize_t n = readlink((base + "/exe").c_str(), target, sizeof(target));
  if (n > 0 && n < static_cast<ssize_t>(sizeof(target))) {
    std::string_view path(target, static_cast<std::size_t>(n));
    if (path.ends_with(kDeletedSuffix)) path.remove_suffix(kDeletedSuffix.size());
    const std::size_t slash = path.rfind('/');
    exeBase = std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
  }
  auto identity = std::make_shared<CProcessIdentity>();
  identity->pid = pid;
  identity->name = CProcessIdentity::DisplayName(comm, exeBase);
  return identity;
}

uint32_t CProcSocketScanner::EffectiveUid(int32_t pid) const {
  const std::string base = root_ + "/" + std::to_string(pid);
  // The status file names the process's own UIDs; the owner of its /proc
  // directory is root for a process that forbids inspection.
  std::string status;
  if (ReadSmallFile(base + "/status", status)) {
    const std::size_t at = status.find("\nUid:");
    if (at != std::string::npos) {
      unsigned real = 0, effective = 0;
      if (std::sscanf(status.c_str() + at + 5, "%u %u", &real, &effective) == 2) return effective;
    }
  }
  struct stat st {};
  return stat(base.c_str(), &st) == 0 ? st.st_uid : 0;
}
