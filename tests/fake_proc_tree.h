#pragma once
// A directory laid out like /proc, for the tests of the process look-up:
// <pid>/comm, <pid>/exe and <pid>/fd/<n> links whose targets are text
// like "socket:[1001]".
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

class FakeProcTree {
 public:
  struct Process {
    int32_t pid = 0;
    std::string comm;  // empty: no comm file, as for a process that ended
    std::string exe;   // link target; empty: none
    std::vector<std::string> fds;  // link targets of fd 3, 4, ...
  };

  FakeProcTree() {
    // Entries of the real /proc that are not processes.
    mkdir(dir_.File("net").c_str(), 0755);
    [[maybe_unused]] int rc = symlink("4242", dir_.File("self").c_str());
  }

  void Add(const Process& p) {
    const std::string base = dir_.File(std::to_string(p.pid));
    mkdir(base.c_str(), 0755);
    mkdir((base + "/fd").c_str(), 0755);
    if (!p.comm.empty()) std::ofstream(base + "/comm") << p.comm << "\n";
    [[maybe_unused]] int rc = 0;
    if (!p.exe.empty()) rc = symlink(p.exe.c_str(), (base + "/exe").c_str());
    int fd = 3;
    for (const std::string& target : p.fds)
      rc = symlink(target.c_str(), (base + "/fd/" + std::to_string(fd++)).c_str());
  }

  const std::string& Root() const { return dir_.Path(); }

 private:
  TempDir dir_;
};
