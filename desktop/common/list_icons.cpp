#include "desktop/common/list_icons.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygon>

namespace {

QIcon Triangle(const QColor& colour, bool pointsRight) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(colour.darker(140));
  p.setBrush(colour);
  const QPolygon shape = pointsRight ? QPolygon({QPoint(4, 2), QPoint(13, 8), QPoint(4, 14)})
                                     : QPolygon({QPoint(12, 2), QPoint(3, 8), QPoint(12, 14)});
  p.drawPolygon(shape);
  return QIcon(pixmap);
}

}  // namespace

QIcon SentIcon() {
  static const QIcon icon = Triangle(QColor(0, 0, 255), true);
  return icon;
}

QIcon ReceivedIcon() {
  static const QIcon icon = Triangle(QColor(255, 0, 0), false);
  return icon;
}

QIcon HostIcon() {
  static const QIcon icon = [] {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(64, 64, 64));
    p.setBrush(QColor(0, 128, 128));
    p.drawRect(2, 2, 11, 8);
    p.drawLine(7, 11, 7, 12);
    p.drawLine(4, 13, 11, 13);
    return QIcon(pixmap);
  }();
  return icon;
}
