#include "processes/socket_owner_cache.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <deque>

#include "processes/netlink_socket_table.h"
#include "processes/proc_socket_scanner.h"
#include "processes/raised_capabilities.h"
#include "processes/recent_socket_owners.h"
#include "processes/socket_owner_resolver.h"
#include "processes/socket_owner_trace.h"

namespace {

int64_t RealtimeMicros() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return int64_t{ts.tv_sec} * 1'000'000 + ts.tv_nsec / 1000;
}

std::string StatusText(const CSocketOwnerCache::CStatus& s, const std::string& tracerWhyNot) {
  std::string text;
  if (!s.shortLivedNamed) text = "Short-lived programs may go unnamed (" + tracerWhyNot + ").";
  if (!s.otherUsersNamed) {
    if (!text.empty()) text += ' ';
    text += "Other users' programs show as (other user) (needs cap_sys_ptrace).";
  }
  return text;
}

}  // namespace

CSocketOwnerCache::CSocketOwnerCache(CSources sources, COptions options)
    : sources_(std::move(sources)), options_(options) {
  status_.shortLivedNamed = sources_.tracer != nullptr;
  status_.otherUsersNamed = sources_.otherUsersReadable;
  status_.text = StatusText(status_, sources_.tracerWhyNot);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  thread_ = std::thread([this] { Run(); });
}

std::unique_ptr<CSocketOwnerCache> CSocketOwnerCache::ForThisHost(bool tryTracer, COptions options) {
  CSources sources;
  sources.table = std::make_unique<CNetlinkSocketTable>();
  sources.scanner = std::make_unique<CProcSocketScanner>("/proc", true);
  sources.ourUid = geteuid();
  sources.otherUsersReadable = CRaisedCapabilities::Permitted({CAP_SYS_PTRACE});
  if (tryTracer) sources.tracer = CSocketOwnerTrace::Start(sources.tracerWhyNot);
  return std::make_unique<CSocketOwnerCache>(std::move(sources), options);
}

CSocketOwnerCache::~CSocketOwnerCache() {
  stop_.store(true);
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof(one));
  }
  if (thread_.joinable()) thread_.join();
  if (wakeFd_ >= 0) close(wakeFd_);
}

CProcessOwner CSocketOwnerCache::Peek(const CSocketKey& key, CTimeStamp firstSeen) {
  const int64_t t = CSocketOwnerNews::Micros(firstSeen);
  latestAskMicros_ = std::max(latestAskMicros_, t);
  auto [it, added] = entries_.try_emplace(key);
  CEntry& e = it->second;
  if (!added) {
    if (e.owner.state == EOwnerState::kPending) {
      e.latestAskMicros = std::max(e.latestAskMicros, t);
      return e.owner;
    }
    if (!e.closed || t <= e.closedAtMicros) return e.owner;
    e = CEntry{};  // a newer socket on the same key
  }
  e.latestAskMicros = t;
  Ask(key);
  return e.owner;
}

void CSocketOwnerCache::Ask(const CSocketKey& key) {
  // Keep the order of requests: once one waits in the overflow, the rest
  // wait behind it.
  if (!overflow_.empty() || !requests_.TryPush(key)) {
    overflow_.push_back(key);
    return;
  }
  WakeIfIdle();
}

void CSocketOwnerCache::WakeIfIdle() {
  // Pairs with the exchange in Run. Both sides read-modify-write the flag,
  // so one reads what the other wrote: the look-up thread then sees the new
  // request before it sleeps, or this side sees it idle and wakes it.
  if (lookupIdle_.exchange(false, std::memory_order_acq_rel)) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof(one));
  }
}

std::size_t CSocketOwnerCache::Collect(std::vector<CSocketOwnerNews>& landed) {
  if (!overflow_.empty()) {
    std::size_t sent = 0;
    while (sent < overflow_.size() && requests_.TryPush(overflow_[sent])) ++sent;
    overflow_.erase(overflow_.begin(), overflow_.begin() + static_cast<std::ptrdiff_t>(sent));
    if (sent > 0) WakeIfIdle();
  }
  std::size_t answers = 0;
  CSocketOwnerNews news;
  while (news_.TryPop(news)) {
    if (!news.hasAnswer) {
      const auto it = entries_.find(news.key);
      if (it != entries_.end() && it->second.owner.state != EOwnerState::kPending) {
        it->second.closed = true;
        it->second.closedAtMicros = news.closedAtMicros;
      }
      continue;
    }
    CEntry& e = entries_[news.key];
    const int64_t asked = e.latestAskMicros;
    e.owner = news.owner;
    e.closed = news.closed;
    e.closedAtMicros = news.closedAtMicros;
    landed.push_back(news);
    ++answers;
    if (news.closed && asked > news.closedAtMicros) {
      // A conversation that began after this socket closed asked while the
      // look-up ran: it needs one of its own.
      e = CEntry{};
      e.latestAskMicros = asked;
      Ask(news.key);
    }
  }
  if (entries_.size() > kSweepAbove && latestAskMicros_ - lastSweepMicros_ > kKeepClosedMicros / 6) Sweep();
  return answers;
}

void CSocketOwnerCache::Sweep() {
  lastSweepMicros_ = latestAskMicros_;
  std::erase_if(entries_, [&](const auto& kv) {
    const CEntry& e = kv.second;
    return e.closed && e.closedAtMicros < latestAskMicros_ - kKeepClosedMicros;
  });
  // Still too many: keep only what is pending or open. A dropped answer is
  // looked up again if a conversation asks for it.
  if (entries_.size() > 8 * kSweepAbove)
    std::erase_if(entries_, [](const auto& kv) { return kv.second.closed; });
}

void CSocketOwnerCache::Sleep(int timeoutMs) {
  pollfd p{wakeFd_, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) > 0) {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof(count));
  }
}

void CSocketOwnerCache::Run() {
  using Clock = std::chrono::steady_clock;
  CSocketOwnerResolver resolver(*sources_.table, *sources_.scanner, sources_.tracer.get(),
                                sources_.ourUid);

  std::vector<CSocketKey> batch;
  std::vector<CSocketOwnerNews> fresh;
  std::deque<CSocketOwnerNews> backlog;  // news that found the ring full
  Clock::time_point lastLookUp = Clock::time_point::min();
  Clock::time_point nextRefresh = Clock::now() + options_.refreshPeriod;

  while (!stop_.load()) {
    CSocketKey key;
    while (requests_.TryPop(key)) batch.push_back(key);
    while (!backlog.empty() && news_.TryPush(backlog.front())) backlog.pop_front();
    fresh.clear();

    const Clock::time_point now = Clock::now();
    if (!batch.empty()) {
      const Clock::time_point due =
          lastLookUp == Clock::time_point::min() ? now : lastLookUp + options_.batchWindow;
      if (now < due) {
        Sleep(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count()));
        continue;
      }
      lastLookUp = now;
      resolver.Resolve(batch, RealtimeMicros(), fresh);
      batch.clear();
      if (nextRefresh < now) nextRefresh = now + options_.refreshPeriod;
    } else if (resolver.Watching() && now >= nextRefresh) {
      resolver.Refresh(RealtimeMicros(), fresh);
      nextRefresh = now + options_.refreshPeriod;
    } else {
      int timeoutMs = -1;
      if (!backlog.empty()) {
        timeoutMs = 5;
      } else if (resolver.Watching()) {
        timeoutMs = static_cast<int>(
            std::chrono::ceil<std::chrono::milliseconds>(nextRefresh - now).count());
      }
      lookupIdle_.exchange(true, std::memory_order_acq_rel);
      if (requests_.Empty() && !stop_.load()) Sleep(timeoutMs);
      lookupIdle_.store(false);
      continue;
    }
    for (CSocketOwnerNews& n : fresh) {
      if (!backlog.empty() || !news_.TryPush(n)) backlog.push_back(std::move(n));
    }
  }
}
