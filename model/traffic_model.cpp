#include "model/traffic_model.h"

CPacketRef CTrafficModel::Record(const CPacketFields& f, std::span<const uint8_t> available,
                                 const CRecordOptions& options) {
  const uint64_t length = static_cast<uint32_t>(f.totalLength);
  const uint64_t sent = f.direction == EDirection::kSent ? length : 0;
  const uint64_t received = f.direction == EDirection::kSent ? 0 : length;
  hosts.Update(sent, received, f.remote, f.remotePort, f.time);
  sampler.Update(sent, received, f.time);
  CPacketRef r = MakePacketRecord(f, options.headerOnly, available);
  conversations.FilePacket(r, options.role);
  recent.push_back(r);
  ++recordedCount;
  TrimRecent();
  return r;
}

void CTrafficModel::TrimRecent() {
  if (recent.size() <= kMaxRecent) return;
  recent.erase(recent.begin(), recent.begin() + (recent.size() - kTrimmedRecent));
}

void CTrafficModel::ClearRecent() { std::deque<CPacketRef>().swap(recent); }
