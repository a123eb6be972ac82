#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "model/conversation_snapshot.h"
#include "services/activity_heap.h"
#include "model/bucket_ring.h"
#include "services/log_histogram.h"
#include "services/service_key.h"
#include "services/service_row.h"

// Latency and traffic per service (see CServiceKey), built from finished
// exchanges: all-time counters and times within 1%, and for the newest 40
// time buckets (200 seconds) per-bucket counters and times to first answer
// within about 10%, so that a range of the traffic graph can be asked about.
//
// At most kMaxServices services. A new one past the bound drops the least
// recently active service (by the last packet of its latest exchange),
// which may be the new one itself; every drop is counted.
//
// Memory: about 18.5 KB per service once it exists (two 3.9 KB histograms
// and 40 buckets of 264 bytes), about 37 MB at the bound; nothing is taken
// for services that never appeared.
//
// Not thread-safe. The engine calls every function under the traffic lock:
// Add on the capture thread where an exchange becomes final, the others
// from any thread. Add is O(1) amortised (O(log n) for the activity order),
// does no I/O and allocates only while the table grows towards its bound
// (one record per new service) and one small hash node per new service.
class CServiceTable {
 public:
  static constexpr std::size_t kMaxServices = 2000;

  CServiceTable();
  virtual ~CServiceTable() = default;

  CServiceTable(const CServiceTable&) = delete;
  CServiceTable& operator=(const CServiceTable&) = delete;

  // Counts one exchange; each exchange must arrive exactly once. Its
  // per-bucket counts go to the bucket of its first packet and are lost
  // when that bucket is 40 or more behind the service's newest one.
  void Add(const CConversationSnapshot& exchange);

  // Every service with all-time counts and times, ordered by key.
  std::vector<CServiceRow> Rows() const;

  // The services with exchanges in buckets [fromBucket, toBucket), each
  // summed over those buckets, ordered by key. Only the 40 buckets ending at
  // `nowBucket` (TimeBucket of the session clock's now) count. Times to
  // first answer come from the merged bucket histograms (within about 10%,
  // the maximum exact); exchangeTime is always empty.
  std::vector<CServiceRow> RangeRows(int64_t fromBucket, int64_t toBucket,
                                     int64_t nowBucket) const;

  // Time to first answer of one service, one point per bucket for the 40
  // buckets ending at `nowBucket`, oldest first; all points empty for a
  // service the table does not hold.
  std::vector<CLatencyPoint> LatencyStrip(const CServiceKey& key, int64_t nowBucket) const;

  std::size_t Size() const { return index_.size(); }
  // Services dropped at the bound since construction or Clear; a service
  // dropped twice counts twice.
  uint64_t Dropped() const { return dropped_; }

  // Forgets every service and the drop count; frees the records.
  void Clear();

 private:
  // One service in one 5-second bucket.
  struct CBucket {
    uint32_t exchanges = 0;
    uint32_t unanswered = 0;
    uint64_t bytesSent = 0;
    uint64_t bytesReceived = 0;
    CCoarseLatencyHistogram firstAnswer;
  };

  struct CRecord {
    CServiceKey key;
    uint64_t exchanges = 0;
    uint64_t unanswered = 0;
    uint64_t bytesSent = 0;
    uint64_t bytesReceived = 0;
    int64_t lastMicros = 0;  // lastActivity in microseconds since 1970
    CTimeStamp lastActivity;
    CLatencyHistogram firstAnswer;
    CLatencyHistogram exchangeTime;
    CBucketRing<CBucket> recent;

    void Reset(const CServiceKey& k, int64_t micros);
  };

  // The record for `key`, made (possibly by dropping another) when new;
  // null when the bound drops this exchange's service itself.
  CRecord* Locate(const CServiceKey& key, int64_t activityMicros, std::size_t& slot);

  std::vector<std::unique_ptr<CRecord>> records_;  // by slot
  std::unordered_map<CServiceKey, std::size_t, CServiceKey::Hash> index_;
  CActivityHeap byActivity_;
  uint64_t dropped_ = 0;
};
