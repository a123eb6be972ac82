#include "flows/flow_exporter.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "model/conversation_snapshot.h"

namespace {

// A send on a full socket buffer waits at most this long, so that Stop's
// bound holds even when the system is short of buffers.
constexpr timeval kSendTimeout{0, 200000};

uint32_t WallSeconds() {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

CFlowExporter::CFlowExporter(Options options)
    : options_(std::move(options)),
      encoder_(options_.observationDomain, options_.maxMessageBytes) {}

CFlowExporter::~CFlowExporter() { Stop(kDefaultStopBound); }

std::chrono::steady_clock::time_point CFlowExporter::Now() const {
  return options_.clock ? options_.clock() : std::chrono::steady_clock::now();
}

void CFlowExporter::Start() {
  std::lock_guard lock(mutex_);
  if (stopped_ || sender_.joinable()) return;
  sender_ = std::thread(&CFlowExporter::Run, this);
}

void CFlowExporter::Add(const CConversationSnapshot& snapshot) {
  Add(CFlowRecord::FromSnapshot(snapshot));
}

void CFlowExporter::Add(CFlowRecord record) {
  bool wake = false;
  bool dropped = false;
  {
    std::lock_guard lock(mutex_);
    ++added_;
    if (stopped_) {
      ++done_;
      unsent_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    if (queue_.size() >= options_.queueLimit) {
      queue_.pop_front();
      ++dropped_;
      ++done_;
      dropped = true;
    }
    // The sender only sleeps on an empty queue, so only the first record
    // after it emptied needs to wake it.
    wake = queue_.empty();
    queue_.push_back(std::move(record));
  }
  if (wake) workCv_.notify_one();
  // Flush waits on the count of records dealt with; a drop counts.
  if (dropped) doneCv_.notify_all();
}

bool CFlowExporter::Flush(std::chrono::milliseconds bound) {
  std::unique_lock lock(mutex_);
  const uint64_t target = added_;
  if (!sender_.joinable()) return done_ >= target;
  return doneCv_.wait_for(lock, bound, [&] { return done_ >= target; });
}

void CFlowExporter::Stop(std::chrono::milliseconds bound) {
  const bool flushed = Flush(bound);
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    stopping_ = true;
    if (!flushed) abandon_.store(true);
  }
  workCv_.notify_all();
  if (sender_.joinable()) sender_.join();
  std::lock_guard lock(mutex_);
  // Never started, or abandoned: what is left will not go.
  unsent_.fetch_add(queue_.size(), std::memory_order_relaxed);
  done_ += queue_.size();
  queue_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

CFlowExportStats CFlowExporter::Stats() const {
  CFlowExportStats s;
  {
    std::lock_guard lock(mutex_);
    s.queued = queue_.size();
    s.dropped = dropped_;
  }
  s.sent = sent_.load(std::memory_order_relaxed);
  s.unsent = unsent_.load(std::memory_order_relaxed);
  s.refusals = refusals_.load(std::memory_order_relaxed);
  return s;
}

void CFlowExporter::Run() {
  std::deque<CFlowRecord> batch;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      workCv_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty() || abandon_.load()) return;
      batch.swap(queue_);
    }
    SendBatch(batch);
    {
      std::lock_guard lock(mutex_);
      done_ += batch.size();
    }
    batch.clear();
    doneCv_.notify_all();
  }
}

bool CFlowExporter::EnsureSocket() {
  if (fd_ >= 0) return true;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(options_.collector.port);
  if (::getaddrinfo(options_.collector.host.c_str(), port.c_str(), &hints, &found) != 0)
    return false;
  for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    // Connected, so that the system tells us when nobody listens there.
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      ::close(fd);
      continue;
    }
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kSendTimeout, sizeof kSendTimeout);
    fd_ = fd;
  }
  ::freeaddrinfo(found);
  // A new socket may reach a collector that never saw the templates.
  templatesSent_ = false;
  return fd_ >= 0;
}

void CFlowExporter::BeginMessage() {
  encoder_.SetExportTime(WallSeconds());
  const auto now = Now();
  if (templatesSent_ && now - lastTemplates_ < options_.templateInterval) return;
  // Templates travel in a message of their own, ahead of the records.
  if (encoder_.AddTemplates()) {
    SendMessage(encoder_.Finish(), 0);
    encoder_.SetExportTime(WallSeconds());
    templatesSent_ = true;
    lastTemplates_ = now;
  }
}

void CFlowExporter::SendBatch(std::deque<CFlowRecord>& batch) {
  if (!EnsureSocket()) {
    unsent_.fetch_add(batch.size(), std::memory_order_relaxed);
    return;
  }
  std::size_t inMessage = 0;
  BeginMessage();
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (abandon_.load(std::memory_order_relaxed)) {
      unsent_.fetch_add(batch.size() - i, std::memory_order_relaxed);
      break;
    }
    if (encoder_.Add(batch[i])) {
      ++inMessage;
      continue;
    }
    if (encoder_.Empty()) {  // refused by libfixbuf, not merely full
      unsent_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    SendMessage(encoder_.Finish(), inMessage);
    inMessage = 0;
    BeginMessage();
    if (encoder_.Add(batch[i]))
      inMessage = 1;
    else
      unsent_.fetch_add(1, std::memory_order_relaxed);
  }
  SendMessage(encoder_.Finish(), inMessage);
}

void CFlowExporter::SendMessage(std::span<const uint8_t> bytes, std::size_t records) {
  if (bytes.empty()) {
    unsent_.fetch_add(records, std::memory_order_relaxed);
    return;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(bytes.size())) {
      sent_.fetch_add(records, std::memory_order_relaxed);
      return;
    }
    // The refusal reported here belongs to an earlier datagram; this one
    // was not sent, so it gets one more try.
    if (n < 0 && errno == ECONNREFUSED) {
      refusals_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  unsent_.fetch_add(records, std::memory_order_relaxed);
}
