#pragma once
#include <QWidget>
#include <vector>

#include "services/service_row.h"

// The time to first answer of one service over the last 200 seconds: p50
// and p99 of each 5-second bucket as two lines over a shared scale, gaps
// where a bucket had no answered exchange. User-interface thread.
class CLatencyStrip : public QWidget {
  Q_OBJECT

 public:
  explicit CLatencyStrip(QWidget* parent = nullptr);

  // Oldest first, one point per bucket (CServiceTable::LatencyStrip).
  void SetPoints(std::vector<CLatencyPoint> points);

  QSize sizeHint() const override { return {400, 120}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<CLatencyPoint> points_;
};
