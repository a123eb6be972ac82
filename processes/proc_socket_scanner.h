#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "processes/process_owner.h"

// What one scan of /proc found.
struct CProcScanResult {
  // socket inode -> the first process found holding it
  std::unordered_map<uint64_t, std::shared_ptr<const CProcessIdentity>> owners;
  // effective UIDs of the processes whose descriptors could not be read
  // (another user's, without CAP_SYS_PTRACE; or one that forbids
  // inspection). A socket of such a UID that was not found may still be
  // held by one of them.
  std::unordered_set<uint32_t> unreadableUids;
  // true when the scan stopped early because every inode asked for was found
  bool stoppedEarly = false;
};

// Finds which processes hold given sockets by reading the links in
// /proc/<pid>/fd ("socket:[inode]"), and names them from /proc/<pid>/comm
// and /proc/<pid>/exe.
//
// Reading another user's descriptors passes the kernel's ptrace access
// check, which CAP_SYS_PTRACE satisfies. When `raisePtrace` is set, a scan
// raises it (from the permitted set) on the calling thread for the scan's
// duration only. One thread at a time.
class CProcSocketScanner {
 public:
  // `procRoot`: "/proc", or a tree laid out like it (tests).
  CProcSocketScanner(std::string procRoot, bool raisePtrace);

  // Looks for the sockets in `inodes`. The processes in `firstPids` are read
  // first (those that held sockets before likely hold the new ones), then
  // the others from the newest PID down; the scan stops once every inode
  // is found.
  CProcScanResult Scan(const std::unordered_set<uint64_t>& inodes,
                       std::span<const int32_t> firstPids) const;

 private:
  // The identity of one process from its comm and exe, or null when it is
  // gone.
  std::shared_ptr<const CProcessIdentity> Identify(int32_t pid) const;
  // Reads one process's descriptors; records the wanted sockets it holds.
  void ScanProcess(int32_t pid, const std::unordered_set<uint64_t>& inodes,
                   CProcScanResult& result) const;
  uint32_t EffectiveUid(int32_t pid) const;

  std::string root_;
  bool raisePtrace_;
};
