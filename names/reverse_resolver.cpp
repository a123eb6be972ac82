#include "names/reverse_resolver.h"

#include <ares.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "names/name_cache.h"
#include "names/reverse_name.h"

namespace {
constexpr int kClassIn = 1;
constexpr int kTypePtr = 12;
}  // namespace

struct CReverseResolver::CQuery {
  CReverseResolver* resolver;
  CIpAddr address;
};

CReverseResolver::CReverseResolver(CNameCache& cache, COptions options)
    : cache_(cache), options_(std::move(options)), queue_(options_.queue) {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CReverseResolver::~CReverseResolver() {
  Stop();
  if (wake_ >= 0) close(wake_);
}

bool CReverseResolver::Start(std::string& error) {
  if (running_.load()) return true;
  if (wake_ < 0) {
    error = "no eventfd for the lookup thread";
    return false;
  }
  if (const int status = ares_library_init(ARES_LIB_INIT_ALL); status != ARES_SUCCESS) {
    error = ares_strerror(status);
    return false;
  }
  ares_options opts{};
  opts.flags = ARES_FLAG_NOSEARCH | ARES_FLAG_NOALIASES;
  opts.timeout = options_.timeoutMs;
  opts.tries = options_.tries;
  int status = ares_init_options(&channel_, &opts,
                                 ARES_OPT_FLAGS | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES);
  // Servers are replaced before the first query, so that a configured list
  // (the tests' stub server on loopback) is the only place a query can go.
  if (status == ARES_SUCCESS && !options_.servers.empty())
    status = ares_set_servers_ports_csv(channel_, options_.servers.c_str());
  if (status != ARES_SUCCESS) {
    error = ares_strerror(status);
    if (channel_) ares_destroy(channel_);
    channel_ = nullptr;
    ares_library_cleanup();
    return false;
  }
  queue_.Reset();
  running_.store(true);
  thread_ = std::thread(&CReverseResolver::Run, this);
  return true;
}

void CReverseResolver::Stop() {
  if (!thread_.joinable()) return;
  running_.store(false);
  const uint64_t one = 1;
  (void)!write(wake_, &one, sizeof one);
  thread_.join();
  // Calls back every query in flight with ARES_EDESTRUCTION, on this thread.
  ares_destroy(channel_);
  channel_ = nullptr;
  ares_library_cleanup();
  queue_.Reset();
}

void CReverseResolver::Ask(const CIpAddr& address) {
  if (!running_.load(std::memory_order_relaxed)) return;
  const auto now = CNameCache::Clock::now();
  if (cache_.HasName(address, now)) return;
  if (queue_.Ask(address, now) != CReverseLookupQueue::EAsked::kQueuedFirst) return;
  const uint64_t one = 1;
  (void)!write(wake_, &one, sizeof one);
}

void CReverseResolver::Run() {
  while (running_.load()) {
    SendWaiting();
    WaitAndProcess();
  }
}

void CReverseResolver::SendWaiting() {
  while (const std::optional<CIpAddr> address = queue_.Next()) {
    const std::string name = CReverseName::ForAddress(*address);
    // Owned by the library until OnAnswer, which may run inside this call.
    ares_query(channel_, name.c_str(), kClassIn, kTypePtr, &CReverseResolver::OnAnswer,
               new CQuery{this, *address});
  }
}

void CReverseResolver::WaitAndProcess() {
  std::array<ares_socket_t, ARES_GETSOCK_MAXNUM> sockets{};
  const int bits = ares_getsock(channel_, sockets.data(), ARES_GETSOCK_MAXNUM);
  std::array<pollfd, ARES_GETSOCK_MAXNUM + 1> fds{};
  fds[0] = {wake_, POLLIN, 0};
  nfds_t count = 1;
  for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
    short events = 0;
    if (ARES_GETSOCK_READABLE(bits, i)) events |= POLLIN;
    if (ARES_GETSOCK_WRITABLE(bits, i)) events |= POLLOUT;
    if (events) fds[count++] = {sockets[static_cast<std::size_t>(i)], events, 0};
  }
  timeval wait{};
  const timeval* until = ares_timeout(channel_, nullptr, &wait);
  const int timeoutMs =
      until ? static_cast<int>(until->tv_sec * 1000 + (until->tv_usec + 999) / 1000) : -1;
  const int ready = poll(fds.data(), count, timeoutMs);

  if (fds[0].revents & POLLIN) {
    uint64_t ignored;
    (void)!read(wake_, &ignored, sizeof ignored);
  }
  bool processed = false;
  for (nfds_t i = 1; ready > 0 && i < count; ++i) {
    const short got = fds[i].revents;
    if (!got) continue;
    const bool readable = got & (POLLIN | POLLERR | POLLHUP);
    ares_process_fd(channel_, readable ? fds[i].fd : ARES_SOCKET_BAD,
                    (got & POLLOUT) ? fds[i].fd : ARES_SOCKET_BAD);
    processed = true;
  }
  // Lets the library retry or give up on queries whose time ran out.
  if (!processed) ares_process_fd(channel_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
}

void CReverseResolver::OnAnswer(void* query, int status, int, unsigned char* answer, int length) {
  const std::unique_ptr<CQuery> q(static_cast<CQuery*>(query));
  // Abandoned by Stop; the queue is reset there.
  if (status == ARES_EDESTRUCTION || status == ARES_ECANCELLED) return;
  q->resolver->Answered(q->address, status, answer, length);
}

void CReverseResolver::Answered(const CIpAddr& address, int status, const unsigned char* answer,
                                int length) {
  using EOutcome = CReverseLookupQueue::EOutcome;
  const auto now = CNameCache::Clock::now();
  EOutcome outcome = EOutcome::kFailed;
  if (status == ARES_ENOTFOUND || status == ARES_ENODATA) outcome = EOutcome::kNoName;
  if (status == ARES_SUCCESS && answer && length > 0) {
    outcome = EOutcome::kNoName;
    reader_.Read(std::span<const uint8_t>(answer, static_cast<std::size_t>(length)));
    for (const CDnsAnswer& a : reader_.Answers()) {
      if (a.kind != EDnsAnswerKind::kPointer || a.address != address) continue;
      // Into the cache before the address stops being pending, so that an
      // Ask in between finds the name instead of asking again.
      cache_.Store(address, ENameSource::kReverseLookup, a.name, now,
                   std::max(kMinimumNameTtl, std::chrono::seconds(a.ttlSeconds)));
      outcome = EOutcome::kNamed;
      break;
    }
  }
  queue_.Finish(address, outcome, now);
}
