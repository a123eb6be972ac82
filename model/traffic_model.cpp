#include "model/traffic_model.h"

CPacketRef CTrafficModel::Record(const CPacketFields& f, std::span<const uint8_t> available,
                                 const CRecordOptions& options) {
  // The conversation's index slot and then the conversation itself are
  // most likely out of the cache: their reads start now and go on while
  // the host, the sampler and the new record are dealt with.
  CConversationTable::CLookAhead ahead = conversations.Prefetch(f);
  const uint64_t length = static_cast<uint32_t>(f.totalLength);
  const uint64_t sent = f.direction == EDirection::kSent ? length : 0;
  const uint64_t received = f.direction == EDirection::kSent ? 0 : length;
  hosts.Update(sent, received, f.remote, f.remotePort, f.time);
  conversations.Find(ahead);
  sampler.Update(sent, received, f.time);
  // Room is made before the payload is copied: the block of the payload
  // let go is then the one the new record takes, and the heap stays as it
  // was instead of growing by a block per record at the limit.
  const std::size_t keep = CPacketRecord::KeptBytes(f, options.headerOnly, available.size());
  conversations.ReleasePayload(keep < options.payloadLimit ? options.payloadLimit - keep : 0);
  CPacketRef r = MakePacketRecord(f, options.headerOnly, available);
  if (r->Payload().size() < keep) ++notStored;
  // Nothing between the look ahead and here changes the table's index.
  conversations.FilePacket(r, options.role, ahead);
  recent.push_back(r);
  ++recordedCount;
  TrimRecent();
  conversations.ReleasePayload(options.payloadLimit);
  return r;
}

void CTrafficModel::TrimRecent() {
  if (recent.size() <= kMaxRecent) return;
  recent.erase(recent.begin(), recent.begin() + (recent.size() - kTrimmedRecent));
}

void CTrafficModel::ClearRecent() { std::deque<CPacketRef>().swap(recent); }
