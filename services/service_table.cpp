#include "services/service_table.h"

#include <algorithm>
#include <array>

namespace {

using TimeIndex = CConversationSnapshot::TimeIndex;

int64_t Micros(CTimeStamp t) { return int64_t{t.sec} * 1'000'000 + t.usec; }

double Seconds(CTimeStamp from, CTimeStamp to) { return (Micros(to) - Micros(from)) / 1e6; }

constexpr std::array<double, 3> kPercents = {50, 90, 99};

template <class Histogram>
CLatencySummary Summarise(const Histogram& h) {
  std::array<double, 3> p{};
  h.Percentiles(kPercents, p);
  return {p[0], p[1], p[2], h.Max()};
}

bool ByKey(const CServiceRow& a, const CServiceRow& b) { return a.key < b.key; }

}  // namespace

CServiceTable::CServiceTable() : byActivity_(kMaxServices) { index_.reserve(2 * kMaxServices); }

void CServiceTable::CRecord::Reset(const CServiceKey& k, int64_t micros) {
  key = k;
  exchanges = unanswered = bytesSent = bytesReceived = 0;
  lastMicros = micros;
  lastActivity = {};
  firstAnswer.Clear();
  exchangeTime.Clear();
  recent.Clear();
}

CServiceTable::CRecord* CServiceTable::Locate(const CServiceKey& key, int64_t activityMicros,
                                               std::size_t& slot) {
  if (const auto found = index_.find(key); found != index_.end()) {
    slot = found->second;
    return records_[slot].get();
  }
  if (records_.size() < kMaxServices) {
    slot = records_.size();
    records_.push_back(std::make_unique<CRecord>());
  } else {
    ++dropped_;
    // The newcomer is itself the least recently active service: keeping it
    // would drop one the user saw more recently.
    if (activityMicros < byActivity_.MinActivity()) return nullptr;
    slot = byActivity_.MinSlot();
    byActivity_.PopMin();
    index_.erase(records_[slot]->key);
  }
  CRecord& r = *records_[slot];
  r.Reset(key, activityMicros);
  index_.emplace(key, slot);
  byActivity_.Push(slot, activityMicros);
  return &r;
}

void CServiceTable::Add(const CConversationSnapshot& s) {
  const CTimeStamp last = s.times[TimeIndex::kLastTime];
  const int64_t lastMicros = Micros(last);
  std::size_t slot = 0;
  CRecord* r = Locate(CServiceKey::Of(s), lastMicros, slot);
  if (r == nullptr) return;

  const bool answered = s.Answered();
  double firstAnswer = 0;
  ++r->exchanges;
  r->bytesSent += s.bytesSent;
  r->bytesReceived += s.bytesReceived;
  if (answered) {
    firstAnswer = Seconds(s.times[TimeIndex::kOpeningEndTime], s.times[TimeIndex::kReplyStartTime]);
    r->firstAnswer.Record(firstAnswer);
    r->exchangeTime.Record(Seconds(s.times[TimeIndex::kFirstTime], last));
  } else {
    ++r->unanswered;
  }
  // Exchanges of one service may become final out of order (a trimmed
  // conversation's last exchange arrives late), so activity only grows.
  if (lastMicros >= r->lastMicros) {
    r->lastMicros = lastMicros;
    r->lastActivity = last;
    byActivity_.Update(slot, lastMicros);
  }

  CBucket* b = r->recent.Cell(TimeBucket(s.times[TimeIndex::kFirstTime].sec));
  if (b == nullptr) return;
  ++b->exchanges;
  b->bytesSent += s.bytesSent;
  b->bytesReceived += s.bytesReceived;
  if (answered) {
    b->firstAnswer.Record(firstAnswer);
  } else {
    ++b->unanswered;
  }
}

std::vector<CServiceRow> CServiceTable::Rows() const {
  std::vector<CServiceRow> rows;
  rows.reserve(index_.size());
  for (const auto& [key, slot] : index_) {
    const CRecord& r = *records_[slot];
    CServiceRow& row = rows.emplace_back();
    row.key = key;
    row.exchanges = r.exchanges;
    row.unanswered = r.unanswered;
    row.bytesSent = r.bytesSent;
    row.bytesReceived = r.bytesReceived;
    if (r.firstAnswer.Count() != 0) {
      row.firstAnswer = Summarise(r.firstAnswer);
      row.exchangeTime = Summarise(r.exchangeTime);
    }
    row.lastActivity = r.lastActivity;
  }
  std::sort(rows.begin(), rows.end(), ByKey);
  return rows;
}

std::vector<CServiceRow> CServiceTable::RangeRows(int64_t fromBucket, int64_t toBucket,
                                                  int64_t nowBucket) const {
  std::vector<CServiceRow> rows;
  for (const auto& [key, slot] : index_) {
    const CRecord& r = *records_[slot];
    // Most services of a long session were last active long ago.
    if (r.recent.Newest() < fromBucket) continue;
    CServiceRow row;
    CCoarseLatencySum firstAnswer;
    r.recent.ForEach(fromBucket, toBucket, nowBucket, [&](int64_t, const CBucket& b) {
      row.exchanges += b.exchanges;
      row.unanswered += b.unanswered;
      row.bytesSent += b.bytesSent;
      row.bytesReceived += b.bytesReceived;
      firstAnswer.Add(b.firstAnswer);
    });
    if (row.exchanges == 0) continue;
    row.key = key;
    if (firstAnswer.Count() != 0) row.firstAnswer = Summarise(firstAnswer);
    row.lastActivity = r.lastActivity;
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end(), ByKey);
  return rows;
}

std::vector<CLatencyPoint> CServiceTable::LatencyStrip(const CServiceKey& key,
                                                       int64_t nowBucket) const {
  const int64_t window = CBucketRing<CBucket>::kBuckets;
  std::vector<CLatencyPoint> points(static_cast<std::size_t>(window));
  const int64_t first = nowBucket - window + 1;
  for (int64_t i = 0; i < window; ++i) points[static_cast<std::size_t>(i)].bucket = first + i;
  const auto found = index_.find(key);
  if (found == index_.end()) return points;
  records_[found->second]->recent.ForEach(
      first, nowBucket + 1, nowBucket, [&](int64_t bucket, const CBucket& b) {
        CLatencyPoint& p = points[static_cast<std::size_t>(bucket - first)];
        p.answered = b.firstAnswer.Count();
        constexpr std::array<double, 2> kStrip = {50, 99};
        std::array<double, 2> v{};
        b.firstAnswer.Percentiles(kStrip, v);
        p.p50 = v[0];
        p.p99 = v[1];
      });
  return points;
}

void CServiceTable::Clear() {
  records_.clear();
  index_.clear();
  byActivity_.Clear();
  dropped_ = 0;
}
