#pragma once
// Shared helpers of the user-interface tests: packets recorded into a real
// traffic model under the traffic lock.
#include <QString>
#include <QStringList>
#include <algorithm>
#include <mutex>
#include <vector>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "tests/model_test_support.h"
#include "desktop/common/message_box.h"

// Records one packet with `payload` bytes of `fill`.
inline CPacketRef RecordPacket(CAppState& state, const CPacketFields& f, uint8_t fill = 'x') {
  const std::vector<uint8_t> bytes(static_cast<std::size_t>(std::max(0, f.totalLength - f.headerLength)), fill);
  std::lock_guard<std::mutex> traffic(state.trafficLock);
  return state.Model().Record(f, bytes);
}

// Collects every message the program would show in a box.
class CMessageCatcher {
 public:
  CMessageCatcher() {
    SetMessageSink([this](const QString& text) { messages.push_back(text); });
  }
  ~CMessageCatcher() { SetMessageSink({}); }
  QStringList messages;
};
