#include "desktop/services/latency_strip.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace {

// "12.5 ms" for the scale's top.
QString SecondsText(double s) {
  if (s >= 1) return QStringLiteral("%1 s").arg(s, 0, 'g', 3);
  if (s >= 0.001) return QStringLiteral("%1 ms").arg(s * 1e3, 0, 'g', 3);
  return QStringLiteral("%1 µs").arg(s * 1e6, 0, 'g', 3);
}

}  // namespace

CLatencyStrip::CLatencyStrip(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(90);
}

void CLatencyStrip::SetPoints(std::vector<CLatencyPoint> points) {
  points_ = std::move(points);
  update();
}

void CLatencyStrip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const QFontMetrics fm = p.fontMetrics();
  const QRect plot = rect().adjusted(4, fm.height() + 4, -4, -4);
  double top = 0;
  for (const CLatencyPoint& point : points_) top = std::max(top, point.p99);
  p.setPen(Qt::gray);
  p.drawText(4, fm.ascent() + 2,
             top > 0 ? QStringLiteral("Time to first answer, last 200 s (top %1)").arg(SecondsText(top))
                     : QStringLiteral("Time to first answer, last 200 s: no answered exchange"));
  if (points_.empty() || top <= 0 || plot.width() < 2 || plot.height() < 2) return;
  const double step = static_cast<double>(plot.width()) / static_cast<double>(points_.size());
  auto y = [&](double v) { return plot.bottom() - v / top * plot.height(); };
  // One path per line; a bucket without answers breaks it.
  for (const auto& [pick, colour] :
       {std::pair{&CLatencyPoint::p99, QColor(255, 140, 0)}, std::pair{&CLatencyPoint::p50, QColor(Qt::green)}}) {
    QPainterPath path;
    bool drawing = false;
    for (std::size_t i = 0; i < points_.size(); ++i) {
      const CLatencyPoint& point = points_[i];
      if (point.answered == 0) {
        drawing = false;
        continue;
      }
      const QPointF at(plot.left() + (static_cast<double>(i) + 0.5) * step, y(point.*pick));
      if (drawing) {
        path.lineTo(at);
      } else {
        path.moveTo(at);
        path.addEllipse(at, 1.5, 1.5);
        path.moveTo(at);
      }
      drawing = true;
    }
    p.setPen(QPen(colour, 1.5));
    p.drawPath(path);
  }
  p.setPen(QColor(255, 140, 0));
  p.drawText(plot.right() - fm.horizontalAdvance(QStringLiteral("p99  p50")), fm.ascent() + 2,
             QStringLiteral("p99"));
  p.setPen(Qt::green);
  p.drawText(plot.right() - fm.horizontalAdvance(QStringLiteral("p50")), fm.ascent() + 2,
             QStringLiteral("p50"));
}
