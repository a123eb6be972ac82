#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/notification_queue.h"
#include "engine/interface_record.h"

class CTrafficModel;

// The settings in force and everything the three threads share: the traffic
// model, the interface list, the quit flag and the two locks.
//
// The switches are single ints written by the user-interface thread and read
// without a lock by the capture thread and the refresh worker; they are
// atomics so that a reader sees either the old or the new value. Lock order:
// trafficLock, then graphLock; never the other way round, and neither is
// taken twice by one thread.
class CAppState {
 public:
  CAppState();
  virtual ~CAppState();

  CAppState(const CAppState&) = delete;
  CAppState& operator=(const CAppState&) = delete;

  std::atomic<int> autoStart{0};
  std::atomic<int> hexOption{0};
  std::atomic<int> dataOption{0};
  std::atomic<int> statsOption{0};
  // Set at start-up, before any other thread runs; read-only afterwards.
  std::string logDir;
  // Guarded by trafficLock; written only by the conversation table.
  int convIdCounter = 0;
  std::atomic<int> hostRole{0};
  // Seconds since 1970: the "now" of the graph rebuild.
  std::atomic<int64_t> graphSampleTime{0};
  std::atomic<int> pause{0};
  std::atomic<int> interfaceIndex{-1};
  std::atomic<int> headerOnly{0};
  std::atomic<int> tcp{1};
  std::atomic<int> udp{1};
  // Points into `interfaces`, never owns.
  std::atomic<const CInterfaceRecord*> selectedInterface{nullptr};
  // Filled once at start-up; not changed while other threads run.
  std::vector<std::unique_ptr<CInterfaceRecord>> interfaces;
  std::atomic<int> logToFile{0};

  // Set once when the program closes; long loops and the worker threads end
  // when they see it.
  std::atomic<int> quit{0};
  std::mutex trafficLock;
  std::mutex graphLock;

  // Messages for the user from any thread.
  CNotificationQueue notifications;

  CTrafficModel& Model() { return *model_; }
  const CTrafficModel& Model() const { return *model_; }

  // The interface at `index`, or null when there is none.
  const CInterfaceRecord* InterfaceAt(int index) const;

  bool Quitting() const { return quit.load(std::memory_order_relaxed) != 0; }

 private:
  std::unique_ptr<CTrafficModel> model_;
};
