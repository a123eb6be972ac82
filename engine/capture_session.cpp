#include "engine/capture_session.h"

#include <algorithm>
#include <map>
#include <new>

#include "engine/host_name_service.h"
#include "output/conversation_text.h"

CCaptureSession::CCaptureSession(int id, CSessionClock::EKind clock,
                                 const CCaptureSwitches& switches,
                                 const CActiveFilterRules& filters, const CCancelToken& cancel,
                                 CSessionClock::WallClock wall)
    : id_(id), clock_(clock, wall), switches_(switches), filters_(filters), cancel_(cancel),
      model_(cancel) {
  model_.conversations.SetFinalListener([this](const CConversationSnapshot& s) { OnFinal(s); },
                                        [this] { return WantsFinals(); });
}

void CCaptureSession::AddFinalConsumer(FinalConsumer consumer, FinalInterest interest) {
  std::lock_guard<std::mutex> lock(trafficLock_);
  finalConsumers_.push_back({std::move(consumer), std::move(interest)});
}

bool CCaptureSession::WantsFinals() const {
  return std::any_of(finalConsumers_.begin(), finalConsumers_.end(),
                     [](const CFinalConsumer& c) { return c.Wants(); });
}

void CCaptureSession::SetRecordTap(RecordTap tap) {
  std::lock_guard<std::mutex> lock(trafficLock_);
  recordTap_ = std::move(tap);
}

void CCaptureSession::OnFinal(const CConversationSnapshot& s) {
  for (const CFinalConsumer& consumer : finalConsumers_) {
    if (consumer.Wants()) consumer.consume(s);
  }
}

CRecordedPacket CCaptureSession::Record(const CPacketFields& fields, std::span<const uint8_t> payload,
                                        const std::string* remoteName) {
  CRecordedPacket recorded;
  const CCaptureOptions options = switches_.Get();
  const CRecordOptions recording{options.headerOnly, options.role, switches_.PayloadLimit()};
  bool newHost = false;
  {
    std::lock_guard<std::mutex> lock(trafficLock_);
    const std::size_t hosts = model_.hosts.Size();
    const uint64_t notStored = model_.notStored;
    CPacketRef r;
    try {
      r = model_.Record(fields, payload, recording);
    } catch (const std::bad_alloc&) {
      ++model_.notStored;
      NoteNotStored();
      throw;
    }
    if (model_.notStored != notStored) NoteNotStored();
    newHost = model_.hosts.Size() > hosts;
    recorded.convId = r->convId;
    const bool namesPrograms = processes_.load(std::memory_order_relaxed) != nullptr;
    if ((remoteName != nullptr || namesPrograms) && r->convId != 0) {
      CConversation* c = model_.conversations.LastFiled();
      if (c == nullptr || c->convId != r->convId) c = model_.conversations.FindById(r->convId);
      if (c != nullptr) {
        if (remoteName != nullptr && c->remoteName.empty()) c->remoteName = *remoteName;
        if (namesPrograms && !c->processAsked && c->process.state == EOwnerState::kPending) {
          c->processAsked = true;
          recorded.askOwner = true;
          recorded.first = c->times[CConversation::kFirstTime];
        }
      }
    }
    if (recordTap_) recordTap_(*r);
  }
  if (newHost && names_ != nullptr) names_->HostSeen(fields.remote);
  return recorded;
}

void CCaptureSession::SetOwners(const std::vector<COwnerUpdate>& updates) {
  std::lock_guard<std::mutex> lock(trafficLock_);
  for (const COwnerUpdate& u : updates) {
    CConversation* c = model_.conversations.FindById(u.convId);
    if (c == nullptr) continue;
    (u.peer ? c->peerProcess : c->process) = u.owner;
  }
}

namespace {

// Known programs only: "(gone)" and "(other user)" name no program.
const CProcessIdentity* KnownProcess(const CConversation& c) {
  return c.process.state == EOwnerState::kKnown ? c.process.process.get() : nullptr;
}

}  // namespace

std::vector<CProcessSummary> CCaptureSession::Processes(const std::optional<CTimeRange>& range) const {
  std::map<std::string, CProcessSummary> byName;
  {
    std::lock_guard<std::mutex> lock(trafficLock_);
    const auto add = [&](const CProcessIdentity& p, uint64_t bytesSent, uint64_t bytesReceived,
                         uint64_t packetsSent, uint64_t packetsReceived) {
      CProcessSummary& s = byName[p.name];
      if (std::find(s.pids.begin(), s.pids.end(), p.pid) == s.pids.end()) s.pids.push_back(p.pid);
      s.bytesSent += bytesSent;
      s.bytesReceived += bytesReceived;
      s.packetsSent += packetsSent;
      s.packetsReceived += packetsReceived;
    };
    for (const auto& c : model_.conversations.Conversations()) {
      if (range && !range->Overlaps(c->times[CConversation::kFirstTime], c->times[CConversation::kLastTime])) {
        continue;
      }
      if (const CProcessIdentity* p = KnownProcess(*c))
        add(*p, c->bytesSent, c->bytesReceived, c->packetsSent, c->packetsReceived);
      // Both ends here: the other end's program sent what this one received.
      if (c->peerProcess.state == EOwnerState::kKnown && c->peerProcess.process)
        add(*c->peerProcess.process, c->bytesReceived, c->bytesSent, c->packetsReceived, c->packetsSent);
    }
  }
  std::vector<CProcessSummary> out;
  out.reserve(byName.size());
  for (auto& [name, s] : byName) {
    s.name = name;
    std::sort(s.pids.begin(), s.pids.end());
    out.push_back(std::move(s));
  }
  return out;
}

void CCaptureSession::NoteNotStored() {
  if (toldNotStored_ || sink_ == nullptr) return;
  toldNotStored_ = true;
  // Posting copies a short text; when even that finds no memory, the
  // count still tells at the end.
  try {
    sink_->Post(kNotStoredMessage);
  } catch (const std::bad_alloc&) {
    toldNotStored_ = false;
  }
}

void CCaptureSession::Finish() {
  std::lock_guard<std::mutex> lock(trafficLock_);
  model_.conversations.FinishAll();
}

bool CCaptureSession::HoldsData() const { return RecordedPackets() > 0; }

uint64_t CCaptureSession::RecordedPackets() const {
  std::lock_guard<std::mutex> lock(trafficLock_);
  return model_.recordedCount;
}

CPayloadStats CCaptureSession::PayloadStats() const {
  std::lock_guard<std::mutex> lock(trafficLock_);
  return {model_.conversations.PayloadHeld(), model_.conversations.PayloadReleased(), model_.notStored};
}

std::vector<CConversationRowData> CCaptureSession::ConversationRows(const CCancelToken& cancel) const {
  std::unique_lock<std::mutex> lock(trafficLock_);
  const CConversationTable& table = model_.conversations;
  std::vector<CConversationRowData> rows;
  const std::vector<CExportRow> order = ConversationListRows(table);
  rows.reserve(order.size());
  for (const CExportRow& r : order) {
    if (cancel.Cancelled()) break;
    // Both rows of a conversation stand together; one snapshot serves both.
    if (!rows.empty() && rows.back().row.convId == r.convId) {
      rows.push_back({r, rows.back().conversation, {}});
      continue;
    }
    if (const CConversation* c = table.FindById(r.convId)) rows.push_back({r, c->Snapshot(), {}});
  }
  lock.unlock();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const bool partner = i > 0 && rows[i - 1].row.convId == rows[i].row.convId;
    rows[i].name = partner ? rows[i - 1].name : RemoteName(rows[i].conversation);
  }
  return rows;
}

std::string CCaptureSession::RemoteName(const CConversationSnapshot& c) const {
  if (!c.remoteName.empty()) return c.remoteName;
  return names_ != nullptr ? names_->NameOf(c.remote) : std::string();
}

std::vector<CConversationCopy> CCaptureSession::CopyRows(const std::vector<CExportRow>& rows) const {
  std::vector<CConversationCopy> copies;
  copies.reserve(rows.size());
  std::lock_guard<std::mutex> lock(trafficLock_);
  for (const CExportRow& r : rows) {
    CConversationCopy copy;
    if (CopyConversationRow(model_.conversations, r, copy)) copies.push_back(std::move(copy));
  }
  return copies;
}

void CCaptureSession::ClearConversations() {
  std::lock_guard<std::mutex> lock(trafficLock_);
  model_.conversations.Clear();
}

CHostsView CCaptureSession::Hosts(bool age, const std::optional<CTimeRange>& range) {
  CHostsView view;
  const int64_t now = clock_.Now();
  {
    std::lock_guard<std::mutex> lock(trafficLock_);
    if (age) model_.hosts.AgeOut(now);
    view.generation = hostGeneration_;
    view.hosts.reserve(model_.hosts.Size());
    for (const CHostRecord& h : model_.hosts.Hosts()) {
      if (!range) {
        view.hosts.push_back({h.address, h.bytesSent, h.bytesReceived, h.packetsSent,
                              h.packetsReceived, h.lastTime, h.ports.size(), {}, {}});
        continue;
      }
      CHostBucket sum;
      h.recent->ForEach(range->fromBucket, range->toBucket, TimeBucket(now),
                       [&sum](int64_t, const CHostBucket& b) {
                         sum.bytesSent += b.bytesSent;
                         sum.bytesReceived += b.bytesReceived;
                         sum.packetsSent += b.packetsSent;
                         sum.packetsReceived += b.packetsReceived;
                       });
      if (sum.packetsSent + sum.packetsReceived == 0) continue;
      view.hosts.push_back({h.address, sum.bytesSent, sum.bytesReceived, sum.packetsSent,
                            sum.packetsReceived, h.lastTime, h.ports.size(), {}, {}});
    }
    if (processes_.load() != nullptr) SetTopProcesses(view.hosts);
  }
  if (names_ != nullptr) {
    for (CHostSummary& h : view.hosts) h.name = names_->NameOf(h.address);
  }
  return view;
}

void CCaptureSession::SetTopProcesses(std::vector<CHostSummary>& hosts) const {
  // Bytes per (host, program), from the conversations in the table.
  std::map<std::pair<CIpAddr, std::string_view>, uint64_t> moved;
  for (const auto& c : model_.conversations.Conversations()) {
    if (const CProcessIdentity* p = KnownProcess(*c))
      moved[{c->remote, p->name}] += c->bytesSent + c->bytesReceived;
  }
  std::map<CIpAddr, std::pair<uint64_t, std::string_view>> top;
  for (const auto& [key, bytes] : moved) {
    auto& best = top[key.first];
    if (best.second.empty() || bytes > best.first) best = {bytes, key.second};
  }
  for (CHostSummary& h : hosts) {
    const auto it = top.find(h.address);
    if (it != top.end()) h.topProcess = std::string(it->second.second);
  }
}

uint64_t CCaptureSession::ClearHosts() {
  std::lock_guard<std::mutex> lock(trafficLock_);
  model_.hosts.Clear();
  model_.ClearRecent();
  return ++hostGeneration_;
}

CGraphSeries CCaptureSession::Graph() const {
  const int64_t now = clock_.Now();
  std::lock_guard<std::mutex> lock(trafficLock_);
  return BuildGraphSeries(model_.sampler, now);
}

bool CCaptureSession::RecentPacketsText(uint64_t& seen, std::string& text) const {
  std::vector<CPacketRef> recent;
  {
    std::lock_guard<std::mutex> lock(trafficLock_);
    if (model_.recordedCount == seen) return false;
    seen = model_.recordedCount;
    recent.reserve(model_.recent.size());
    // A record not yet filed may still change; the others never do.
    for (const CPacketRef& r : model_.recent) recent.push_back(r->convId != 0 ? r : CopyPacketRecord(*r));
  }
  text = RenderRecentPackets(recent, cancel_);
  return true;
}
