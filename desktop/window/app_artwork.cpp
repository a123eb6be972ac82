#include "desktop/window/app_artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

// Sent and received traffic as two curves, in the graph's own colours.
constexpr QRgb kSentColour = qRgb(0, 170, 60);
constexpr QRgb kReceivedColour = qRgb(220, 50, 40);

QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QLinearGradient tile(0, 0, 0, s);
  tile.setColorAt(0, QColor(40, 70, 130));
  tile.setColorAt(1, QColor(15, 30, 70));
  painter.setPen(Qt::NoPen);
  painter.setBrush(tile);
  painter.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);

  // Grid lines, only where there is room for them.
  if (size >= 32) {
    painter.setPen(QPen(QColor(255, 255, 255, 50), s / 64.0));
    for (int i = 1; i < 4; ++i) {
      painter.drawLine(QPointF(s * 0.12, s * i / 4.0), QPointF(s * 0.88, s * i / 4.0));
    }
  }
  auto curve = [&](std::initializer_list<qreal> ys, QRgb colour) {
    QPainterPath path;
    int i = 0;
    const qreal step = 0.76 / (static_cast<qreal>(ys.size()) - 1);
    for (qreal y : ys) {
      const QPointF p(s * (0.12 + step * i), s * y);
      if (i++ == 0) {
        path.moveTo(p);
      } else {
        path.lineTo(p);
      }
    }
    painter.setPen(QPen(QColor(colour), qMax(1.5, s / 12.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
  };
  curve({0.78, 0.55, 0.66, 0.30, 0.45, 0.22}, kSentColour);
  curve({0.85, 0.74, 0.80, 0.58, 0.70, 0.50}, kReceivedColour);
  return pixmap;
}

}  // namespace

QIcon MakeAppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(DrawIcon(size));
  return icon;
}

QPixmap MakeAboutPicture() {
  QPixmap pixmap(183, 129);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 129);
  sky.setColorAt(0, QColor(30, 55, 110));
  sky.setColorAt(1, QColor(10, 20, 50));
  painter.fillRect(pixmap.rect(), sky);

  // Two workstations exchanging packets along a link.
  auto station = [&](QPointF centre) {
    painter.setPen(QPen(QColor(200, 215, 240), 1.5));
    painter.setBrush(QColor(60, 90, 150));
    painter.drawRoundedRect(QRectF(centre.x() - 16, centre.y() - 13, 32, 22), 3, 3);
    painter.drawLine(QPointF(centre.x(), centre.y() + 9), QPointF(centre.x(), centre.y() + 14));
    painter.drawLine(QPointF(centre.x() - 9, centre.y() + 14), QPointF(centre.x() + 9, centre.y() + 14));
  };
  const QPointF left(32, 40);
  const QPointF right(151, 40);
  painter.setPen(QPen(QColor(150, 170, 210), 2, Qt::DashLine));
  painter.drawLine(QPointF(left.x() + 18, left.y()), QPointF(right.x() - 18, right.y()));
  painter.setPen(Qt::NoPen);
  for (int i = 0; i < 4; ++i) {
    painter.setBrush(QColor(i % 2 == 0 ? kSentColour : kReceivedColour));
    painter.drawEllipse(QPointF(62 + i * 20, 40 + (i % 2 == 0 ? -5 : 5)), 4, 4);
  }
  station(left);
  station(right);

  // A small traffic graph underneath.
  const QRectF graph(14, 66, 155, 40);
  painter.setPen(QPen(QColor(255, 255, 255, 60), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(graph);
  const qreal sent[] = {0.2, 0.5, 0.35, 0.8, 0.6, 0.7, 0.4, 0.9, 0.65};
  const qreal received[] = {0.1, 0.3, 0.2, 0.45, 0.5, 0.3, 0.35, 0.55, 0.4};
  auto plot = [&](const qreal* values, QRgb colour) {
    QPainterPath path;
    for (int i = 0; i < 9; ++i) {
      const QPointF p(graph.left() + graph.width() * i / 8.0, graph.bottom() - graph.height() * values[i]);
      if (i == 0) {
        path.moveTo(p);
      } else {
        path.lineTo(p);
      }
    }
    painter.setPen(QPen(QColor(colour), 2));
    painter.drawPath(path);
  };
  plot(sent, kSentColour);
  plot(received, kReceivedColour);

  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(13);
  painter.setFont(font);
  painter.setPen(QColor(235, 240, 255));
  painter.drawText(QRectF(0, 108, 183, 20), Qt::AlignCenter, QStringLiteral("Trafalyn"));
  return pixmap;
}
