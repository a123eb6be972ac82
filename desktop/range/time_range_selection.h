#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "model/time_range.h"

// The stretch of the traffic graph the user dragged across, which every
// traffic table then shows alone. It stays on the same clock times while the
// graph scrolls and clears itself once it has scrolled out of the graph's
// 40 buckets, or when another session is shown.
//
// Set, Clear and the signal belong to the user-interface thread; Range may
// be read from any thread (the refresh worker asks it for each update).
class CTimeRangeSelection : public QObject {
  Q_OBJECT

 public:
  // `now` gives the session shown and the bucket of its clock's now.
  struct CNow {
    int sessionId = 0;
    int64_t bucket = 0;
  };
  explicit CTimeRangeSelection(std::function<CNow()> now, QObject* parent = nullptr);

  std::optional<CTimeRange> Range() const;
  void Set(const CTimeRange& range);
  void Clear();

  // "14:02:05–14:02:40", local clock times of the range's two ends.
  static QString Text(const CTimeRange& range);

  // Drops the range if it scrolled out or the session changed; runs every
  // second by itself.
  void Check();

 signals:
  void Changed();

 private:
  std::function<CNow()> now_;
  mutable std::mutex mutex_;  // guards range_ for the worker's reads
  std::optional<CTimeRange> range_;
  int sessionId_ = 0;
  QTimer tick_;
};
