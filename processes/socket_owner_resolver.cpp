#include "processes/socket_owner_resolver.h"

#include <algorithm>
#include <unordered_set>

#include "processes/proc_socket_scanner.h"
#include "processes/recent_socket_owners.h"

namespace {

constexpr uint8_t kTcp = 6;
const CIpAddr kAnyV6 = CIpAddr::V6(std::array<uint8_t, 16>{});

CSocketKey BoundKey(uint8_t protocol, const CIpAddr& local, uint16_t port) {
  CSocketKey k;
  k.protocol = protocol;
  k.local = local;
  k.localPort = port;
  return k;
}

// The sockets of one table read, indexed the ways a conversation can match:
// its own connected socket, or the listening (TCP) or unconnected (UDP)
// socket bound to its local address or to every address.
class CRecordIndex {
 public:
  explicit CRecordIndex(const std::vector<CSocketRecord>& records) {
    for (const CSocketRecord& r : records) {
      const bool bound = r.protocol == kTcp ? r.listening : r.remotePort == 0;
      if (bound) {
        Put(bound_, BoundKey(r.protocol, r.local, r.localPort), r);
      } else if (r.remotePort != 0) {
        Put(exact_, CSocketKey{r.protocol, r.local, r.localPort, r.remote, r.remotePort}, r);
      }
    }
  }

  const CSocketRecord* Match(const CSocketKey& k) const {
    if (const CSocketRecord* r = Get(exact_, k)) return r;
    if (const CSocketRecord* r = Get(bound_, BoundKey(k.protocol, k.local, k.localPort))) return r;
    // A socket bound to every IPv6 address also takes IPv4 unless it is
    // IPv6-only, which the table does not say; a v4 match wins first.
    if (k.local.IsV4())
      if (const CSocketRecord* r = Get(bound_, BoundKey(k.protocol, CIpAddr(), k.localPort))) return r;
    return Get(bound_, BoundKey(k.protocol, kAnyV6, k.localPort));
  }

 private:
  using Map = std::unordered_map<CSocketKey, const CSocketRecord*, CSocketKeyHash>;
  // Of several sockets on one key (SO_REUSEPORT), one that a process holds.
  static void Put(Map& m, const CSocketKey& k, const CSocketRecord& r) {
    auto [it, added] = m.emplace(k, &r);
    if (!added && it->second->inode == 0) it->second = &r;
  }
  static const CSocketRecord* Get(const Map& m, const CSocketKey& k) {
    const auto it = m.find(k);
    return it == m.end() ? nullptr : it->second;
  }
  Map exact_, bound_;
};

}  // namespace

CSocketOwnerResolver::CSocketOwnerResolver(CSocketTableReader& table, const CProcSocketScanner& scanner,
                                           CRecentSocketOwners* recent, uint32_t ourUid)
    : table_(table), scanner_(scanner), recent_(recent), ourUid_(ourUid) {}

CProcessOwner CSocketOwnerResolver::Judge(const CEvidence& e, uint32_t ourUid) {
  if (e.heldBy) return CProcessOwner{EOwnerState::kKnown, e.heldBy};
  if (e.recent) return CProcessOwner{EOwnerState::kKnown, e.recent};
  if (!e.tableRead) return CProcessOwner{EOwnerState::kUnknown, nullptr};
  // Not in the table, or in it without a holder (closed, lingering in the
  // kernel only): its process let go of it before anyone looked.
  if (e.record == nullptr || e.record->inode == 0) return CProcessOwner{EOwnerState::kGone, nullptr};
  if (e.ownerUnreadable) {
    // Its holder may be a process we were not allowed to read. For another
    // user's socket that is most likely; for one of our own it is a
    // process that forbids inspection, and "gone" would be a guess.
    return CProcessOwner{e.record->uid != ourUid ? EOwnerState::kOtherUser : EOwnerState::kUnknown,
                         nullptr};
  }
  // Every process that could hold it was read: it closed in between.
  return CProcessOwner{EOwnerState::kGone, nullptr};
}

void CSocketOwnerResolver::Resolve(std::span<const CSocketKey> keysIn, int64_t nowMicros,
                                   std::vector<CSocketOwnerNews>& out) {
  std::vector<CSocketKey> keys(keysIn.begin(), keysIn.end());
  {
    std::unordered_set<CSocketKey, CSocketKeyHash> seen;
    std::erase_if(keys, [&](const CSocketKey& k) { return !seen.insert(k).second; });
  }
  if (keys.empty()) return;

  std::vector<CEvidence> evidence(keys.size());
  std::vector<std::shared_ptr<const CProcessIdentity>> recent(keys.size());
  if (recent_ != nullptr) recent_->Find(keys, recent);

  const bool tableRead = table_.Read(keys, records_);
  const CRecordIndex index(records_);

  std::unordered_set<uint64_t> wanted;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    CEvidence& e = evidence[i];
    e.tableRead = tableRead;
    e.recent = recent[i];
    e.record = index.Match(keys[i]);
    if (e.record != nullptr && e.record->inode != 0 && !e.recent) wanted.insert(e.record->inode);
  }
  const CProcScanResult scan = scanner_.Scan(wanted, firstPids_);

  for (std::size_t i = 0; i < keys.size(); ++i) {
    CEvidence& e = evidence[i];
    if (e.record != nullptr && e.record->inode != 0) {
      if (const auto it = scan.owners.find(e.record->inode); it != scan.owners.end()) e.heldBy = it->second;
      e.ownerUnreadable = scan.unreadableUids.contains(e.record->uid);
    }
    CSocketOwnerNews news;
    news.key = keys[i];
    news.hasAnswer = true;
    news.owner = Judge(e, ourUid_);
    if (news.owner.process) NoteOwnerPid(news.owner.process->pid);
    const bool open = e.record != nullptr && e.record->inode != 0;
    if (open && (watched_.size() < kMaxWatched || watched_.contains(keys[i]))) {
      watched_[keys[i]] = CWatched{e.record->inode, nowMicros};
    } else {
      // Closed already, or too many to watch: the answer holds only for
      // conversations that began before this look-up.
      watched_.erase(keys[i]);
      news.closed = true;
      news.closedAtMicros = nowMicros;
    }
    out.push_back(std::move(news));
  }
}

void CSocketOwnerResolver::Refresh(int64_t nowMicros, std::vector<CSocketOwnerNews>& out) {
  if (watched_.empty()) return;
  watchedKeys_.clear();
  for (const auto& kv : watched_) watchedKeys_.push_back(kv.first);
  if (!table_.Read(watchedKeys_, records_)) return;
  std::unordered_set<uint64_t> open;
  open.reserve(records_.size());
  for (const CSocketRecord& r : records_)
    if (r.inode != 0) open.insert(r.inode);
  for (auto it = watched_.begin(); it != watched_.end();) {
    if (open.contains(it->second.inode)) {
      it->second.lastSeenMicros = nowMicros;
      ++it;
      continue;
    }
    CSocketOwnerNews news;
    news.key = it->first;
    news.closed = true;
    news.closedAtMicros = it->second.lastSeenMicros;
    out.push_back(std::move(news));
    it = watched_.erase(it);
  }
}

void CSocketOwnerResolver::NoteOwnerPid(int32_t pid) {
  std::erase(firstPids_, pid);
  firstPids_.insert(firstPids_.begin(), pid);
  if (firstPids_.size() > kMaxFirstPids) firstPids_.pop_back();
}
