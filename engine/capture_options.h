#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "model/traffic_types.h"

// The switches that decide what a trace records.
struct CCaptureOptions {
  bool tcp = true;
  bool udp = true;
  bool headerOnly = false;  // keep no payload
  EHostRole role = EHostRole::kClient;

  friend bool operator==(const CCaptureOptions&, const CCaptureOptions&) = default;
};

// The options in force, changed by the user-interface thread while a trace
// runs and read for every packet by the capture thread. Packed into one
// atomic, so a reader sees either the old or the new options, never a mix.
// The memory limit stands on its own beside them.
class CCaptureSwitches {
 public:
  static constexpr std::size_t kDefaultPayloadLimit = std::size_t{512} << 20;

  void Set(const CCaptureOptions& o) { bits_.store(Pack(o), std::memory_order_relaxed); }
  CCaptureOptions Get() const { return Unpack(bits_.load(std::memory_order_relaxed)); }

  // The payload bytes the packet records of a session may hold.
  void SetPayloadLimit(std::size_t bytes) { payloadLimit_.store(bytes, std::memory_order_relaxed); }
  std::size_t PayloadLimit() const { return payloadLimit_.load(std::memory_order_relaxed); }

 private:
  static uint8_t Pack(const CCaptureOptions& o) {
    return static_cast<uint8_t>((o.tcp ? 1 : 0) | (o.udp ? 2 : 0) | (o.headerOnly ? 4 : 0) |
                                (o.role == EHostRole::kServer ? 8 : 0));
  }
  static CCaptureOptions Unpack(uint8_t b) {
    return {(b & 1) != 0, (b & 2) != 0, (b & 4) != 0,
            (b & 8) != 0 ? EHostRole::kServer : EHostRole::kClient};
  }

  std::atomic<uint8_t> bits_{Pack(CCaptureOptions{})};
  std::atomic<std::size_t> payloadLimit_{kDefaultPayloadLimit};
};
