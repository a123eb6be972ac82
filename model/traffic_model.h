#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "filters/active_filter_rules.h"
#include "model/conversation_table.h"
#include "model/host_table.h"
#include "model/packet_record.h"
#include "model/traffic_sampler.h"

class CAppState;

// Everything the capture thread builds from the traffic. Members are guarded
// by the traffic lock of CAppState, except the graph data, which the graph
// lock guards (see RebuildGraph).
class CTrafficModel {
 public:
  static constexpr std::size_t kMaxRecent = 100;
  static constexpr std::size_t kTrimmedRecent = 90;

  explicit CTrafficModel(CAppState& state);
  virtual ~CTrafficModel() = default;

  CTrafficModel(const CTrafficModel&) = delete;
  CTrafficModel& operator=(const CTrafficModel&) = delete;

  CAppState& State() { return state_; }

  // Records one decoded packet into the host table, the sampler, the
  // conversation table and the recent-packet list, in that order. The caller
  // holds the traffic lock. `available` holds the captured payload bytes.
  CPacketRef Record(const CPacketFields& fields, std::span<const uint8_t> available);

  // Drops the oldest recent records once there are more than 100, keeping 90.
  void TrimRecent();

  // Empties the recent-packet list; the records stay with their owners.
  // Caller holds the traffic lock and the graph lock.
  void ClearRecent();

  // Copies the sampler into the graph series up to the graph sample time and
  // picks the scale. Caller holds the traffic lock; takes the graph lock.
  void RebuildGraph();

  // Traffic lock.
  CConversationTable conversations;
  CHostTable hosts;
  CTrafficSampler sampler;
  std::deque<CPacketRef> recent;  // oldest first
  int newData = 0;
  int64_t lastFlushTime;          // seconds since 1970
  std::string traceFileName;
  std::string statsFileName;
  CActiveFilterRules filterRules;  // its own synchronisation; not the traffic lock

  // Graph lock.
  std::vector<uint64_t> graphSent;
  std::vector<uint64_t> graphReceived;
  uint64_t graphMaximum = 0;
  std::vector<std::string> scaleLabels;  // lowest first

 private:
  CAppState& state_;
};

// Sets `maximum` to the full value of the scale that fits it and fills
// `labels` with the scale's axis labels.
void ChooseGraphScale(uint64_t& maximum, std::vector<std::string>& labels);
