#pragma once
// A socket table the tests fill themselves. Thread-safe: the cache reads it
// on its look-up thread while the test changes it. A gate can hold the
// next read until the test opens it.
#include <condition_variable>
#include <mutex>
#include <vector>

#include "processes/socket_table_reader.h"

class FakeSocketTable : public CSocketTableReader {
 public:
  // Gives every socket, as a dump would.
  bool Read(std::span<const CSocketKey>, std::vector<CSocketRecord>& out) override {
    std::unique_lock lock(mutex_);
    ++reads_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !closed_; });
    out = records_;
    return true;
  }

  void Set(std::vector<CSocketRecord> records) {
    std::lock_guard lock(mutex_);
    records_ = std::move(records);
  }
  // While closed, reads wait.
  void CloseGate() {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  void OpenGate() {
    std::lock_guard lock(mutex_);
    closed_ = false;
    changed_.notify_all();
  }
  int Reads() {
    std::lock_guard lock(mutex_);
    return reads_;
  }
  // Waits until at least `n` reads have begun.
  void AwaitReads(int n) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return reads_ >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<CSocketRecord> records_;
  int reads_ = 0;
  bool closed_ = false;
};
