#include "model/conversation.h"

#include <algorithm>
#include <new>

#include "model/record_pool.h"

void* CConversation::operator new(std::size_t bytes) { return CRecordPool::Instance().Allocate(bytes); }

void CConversation::operator delete(void* p, std::size_t bytes) noexcept {
  CRecordPool::Instance().Release(p, bytes);
}

CConversation::~CConversation() {
  ReleaseRecords(sent);
  ReleaseRecords(received);
}

void CConversation::ReleaseRecords(std::vector<CPacketRef>& list) {
  // Trimming releases hundreds of conversations at once, and each release
  // reads a record's shared count long out of the cache; asking for the
  // records a few places ahead lets those reads overlap.
  constexpr std::size_t kAhead = 8;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i + kAhead < list.size()) {
      const char* ahead = reinterpret_cast<const char*>(list[i + kAhead].get());
      __builtin_prefetch(ahead - 32, 1);
      __builtin_prefetch(ahead, 1);
    }
    list[i].reset();
  }
}

CConversation::EMatch CConversation::Match(const CPacketRecord& r) {
  if (r.protocol != protocol || !(r.remote == remote) || !(r.local == local)) {
    return EMatch::kOther;
  }
  // A later fragment has no ports of its own: only the identification of
  // its datagram, which its first fragment (or another piece) carried in
  // the same direction.
  if (r.laterFragment) {
    return HasIdentification(r.direction, r.identification) ? EMatch::kSame : EMatch::kOther;
  }
  if (r.remotePort != remotePort || r.localPort != localPort) return EMatch::kOther;
  if (closed) return EMatch::kNewExchange;
  // The opening direction again, after an answer: the next exchange.
  const bool answered = hostRole == EHostRole::kClient ? !received.empty() : !sent.empty();
  if (r.direction == OpeningDirection(hostRole) && answered) {
    closed = true;
    return EMatch::kNewExchange;
  }
  return EMatch::kSame;
}

namespace {

void CopyStart(const CPacketRecord& first, CDataStart& start) {
  start.present = true;
  start.headerOnly = first.headerOnly;
  const std::span<const uint8_t> data = first.Payload();
  start.length = static_cast<uint8_t>(std::min<std::size_t>(data.size(), CDataStart::kBytes));
  std::copy_n(data.begin(), start.length, start.bytes.begin());
}

}  // namespace

bool CConversation::Add(const CPacketRef& r, EHostRole role) {
  remote = r->remote;
  local = r->local;
  const uint64_t length = static_cast<uint64_t>(static_cast<uint32_t>(r->totalLength));
  const bool isSent = r->direction == EDirection::kSent;
  if (isSent) {
    bytesSent += length;
    packetsSent += 1;
  } else {
    bytesReceived += length;
    packetsReceived += 1;
  }
  r->convId = convId;
  localPort = r->localPort;
  remotePort = r->remotePort;
  protocol = r->protocol;
  hostRole = role;

  // The times follow the record counts held before this record goes in.
  const CTimeStamp t = r->time;
  const bool haveSent = !sent.empty();
  const bool haveReceived = !received.empty();
  if (!haveSent && !haveReceived) {
    times = {t, t, t, t};
  } else if (haveSent != haveReceived) {
    const bool sameAsOpening = haveSent == isSent;
    if (sameAsOpening) times[kOpeningEndTime] = t;
    times[kReplyStartTime] = t;
    times[kLastTime] = t;
  } else {
    times[kLastTime] = t;
  }

  std::vector<CPacketRef>& list = isSent ? sent : received;
  if (list.size() >= kMaxRecordsPerDirection) return false;
  // Most exchanges hold a handful of records: start with room for them
  // rather than growing through 1, 2 and 4.
  std::vector<uint32_t>& ids = isSent ? sentIds_ : receivedIds_;
  if (list.empty()) {
    list.reserve(kInitialRecords);
    ids.reserve(kInitialRecords);
  }
  // Doubling past the bound would leave room that is never used.
  if (list.size() == list.capacity() && list.capacity() * 2 > kMaxRecordsPerDirection) {
    list.reserve(kMaxRecordsPerDirection);
  }
  // Backward scan: in-order TCP data costs one comparison. A retransmission
  // with an equal sequence number lands in front of the kept copy.
  const int32_t seq = static_cast<int32_t>(r->seq);
  auto pos = list.end();
  while (pos != list.begin()) {
    auto prev = pos - 1;
    if (static_cast<int32_t>((*prev)->seq) < seq) break;
    pos = prev;
  }
  if (pos == list.begin()) CopyStart(*r, isSent ? sentStart : receivedStart);
  list.insert(pos, r);
  ids.push_back(r->identification);
  if (const std::size_t bytes = r->Payload().size()) {
    payloadHeld += bytes;
    ++recordsHoldingPayload;
  }
  return true;
}

int CConversation::Release(const CPacketRecord* r, EDirection direction) {
  std::vector<CPacketRef>& list = direction == EDirection::kSent ? sent : received;
  // The oldest records are released first, and they mostly stand near the
  // front of their list.
  const auto it = std::find_if(list.begin(), list.end(),
                               [r](const CPacketRef& kept) { return kept.get() == r; });
  if (it == list.end()) return 0;
  CPacketRef twin;
  try {
    twin = ReleasedPacketRecord(*r);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  payloadHeld -= r->Payload().size();
  --recordsHoldingPayload;
  *it = std::move(twin);
  return 1;
}

bool CConversation::HasIdentification(EDirection direction, uint32_t identification) const {
  // Blocks of a fixed 16 values, which the compiler turns into a few vector
  // compares: a fragment's search may read every conversation's list.
  constexpr std::size_t kBlock = 16;
  const std::vector<uint32_t>& list = direction == EDirection::kSent ? sentIds_ : receivedIds_;
  const uint32_t* ids = list.data();
  const std::size_t n = list.size();
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    unsigned hit = 0;
    for (std::size_t k = 0; k < kBlock; ++k) hit |= ids[i + k] == identification ? 1u : 0u;
    if (hit != 0) return true;
  }
  for (; i < n; ++i) {
    if (ids[i] == identification) return true;
  }
  return false;
}

int64_t CConversation::ResponseMicros() const {
  const CTimeStamp& a = times[kFirstTime];
  const CTimeStamp& b = times[kLastTime];
  return (static_cast<int64_t>(b.sec) - a.sec) * 1000000 + (static_cast<int64_t>(b.usec) - a.usec);
}

CConversationSnapshot CConversation::Snapshot() const {
  CConversationSnapshot s;
  s.convId = convId;
  s.role = hostRole;
  s.protocol = static_cast<uint8_t>(protocol);
  s.local = local;
  s.remote = remote;
  s.localPort = localPort;
  s.remotePort = remotePort;
  s.bytesSent = bytesSent;
  s.bytesReceived = bytesReceived;
  s.packetsSent = packetsSent;
  s.packetsReceived = packetsReceived;
  s.times = times;
  s.sentStart = sentStart;
  s.receivedStart = receivedStart;
  s.remoteName = remoteName;
  s.process = process;
  s.peerProcess = peerProcess;
  return s;
}
