#include "desktop/hosts/graph_ctrl.h"

#include <QPainter>
#include <algorithm>

#include "model/graph_series.h"

namespace {

const QColor kGrid(0, 150, 0);
const QColor kSent(255, 255, 0);
const QColor kReceived(255, 0, 0);

// Height in pixels of a needle for `value` on a field `h` high with full
// scale `maximum`; 128-bit so that no byte count can overflow the product.
int NeedleHeight(uint64_t value, uint64_t maximum, int h) {
  const unsigned __int128 scaled = static_cast<unsigned __int128>(h) * value / maximum;
  return scaled > static_cast<unsigned __int128>(h) ? h : static_cast<int>(scaled);
}

void DrawNeedle(QPainter& p, const QColor& colour, int x, int h, uint64_t value, uint64_t maximum) {
  const int bottom = h - 1;
  const int height = NeedleHeight(value, maximum, h);
  if (height > 0) {
    p.setPen(colour);
    p.drawLine(x, bottom, x, bottom - height + 1);
  }
  p.setPen(Qt::white);
  p.drawPoint(x, bottom);
  if (value > 0) p.drawPoint(x, bottom - height);
}

}  // namespace

CGraphCtrl::CGraphCtrl(const CGraphSeries& series, QWidget* parent)
    : QWidget(parent), series_(series) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CGraphCtrl::Draw(QImage& image, bool withNeedles) const {
  const int w = image.width();
  const int h = image.height();
  image.fill(Qt::black);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(kGrid);
  for (int k = 1; k <= 9; ++k) {
    const int y = k * h / 10;
    p.drawLine(0, y, w - 1, y);
  }
  for (int x = w; x > 0; x -= kStep) p.drawLine(x, 0, x, h - 1);
  if (!withNeedles) return;

  const uint64_t maximum = series_.maximum;
  const std::size_t n = std::min(series_.sent.size(), series_.received.size());
  if (n == 0 || maximum <= 1) return;
  int x = w - kFirstNeedle;
  for (std::size_t i = n; i-- > 0 && x >= 1; x -= kStep) {
    DrawNeedle(p, kReceived, x, h, series_.received[i], maximum);
    DrawNeedle(p, kSent, x - kNeedleGap, h, series_.sent[i], maximum);
  }
}

void CGraphCtrl::paintEvent(QPaintEvent*) {
  // Drawn off screen first and copied in one go, so the graph never flickers.
  QImage image(size(), QImage::Format_RGB32);
  if (image.isNull()) return;
  Draw(image, !firstPaint_);
  firstPaint_ = false;
  QPainter(this).drawImage(0, 0, image);
}
