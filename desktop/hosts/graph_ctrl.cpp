#include "desktop/hosts/graph_ctrl.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cstdlib>

#include "desktop/range/time_range_selection.h"
#include "model/graph_series.h"

namespace {

constexpr int kBucketSeconds = CTrafficSampler::kBucketSeconds;
constexpr int kAxisStep = 30;  // seconds between time labels at the least

bool IsDark(const QPalette& palette) { return palette.color(QPalette::Base).lightness() < 128; }

QColor Mix(const QColor& a, const QColor& b, double share) {
  return QColor::fromRgbF(static_cast<float>(a.redF() * (1 - share) + b.redF() * share),
                          static_cast<float>(a.greenF() * (1 - share) + b.greenF() * share),
                          static_cast<float>(a.blueF() * (1 - share) + b.blueF() * share));
}

QString ClockText(int64_t seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("HH:mm:ss"));
}

// Height in pixels of a bar for `value` on a field `h` high with full
// scale `maximum`; 128-bit so that no byte count can overflow the product.
int BarHeight(uint64_t value, uint64_t maximum, int h) {
  const unsigned __int128 scaled = static_cast<unsigned __int128>(h) * value / maximum;
  return scaled > static_cast<unsigned __int128>(h) ? h : static_cast<int>(scaled);
}

}  // namespace

CGraphCtrl::CGraphCtrl(const CGraphSeries& series, QWidget* parent)
    : QWidget(parent), series_(series) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor CGraphCtrl::SentColour(const QPalette& palette) {
  return IsDark(palette) ? QColor(240, 200, 40) : QColor(190, 130, 0);
}

QColor CGraphCtrl::ReceivedColour(const QPalette& palette) {
  return IsDark(palette) ? QColor(255, 90, 80) : QColor(200, 30, 30);
}

int CGraphCtrl::AxisHeight() const { return fontMetrics().height() + 6; }

int CGraphCtrl::EntryAt(int slot) const {
  const int n = static_cast<int>(std::min(series_.sent.size(), series_.received.size()));
  const int entry = slot - (kSlots - n);
  return slot >= 0 && slot < kSlots && entry >= 0 && entry < n ? entry : -1;
}

int CGraphCtrl::LabelSpacing(int width) const {
  const int label = fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) + 12;
  int seconds = kAxisStep;
  while (seconds < kSlots * kBucketSeconds &&
         static_cast<long long>(width) * seconds / (kSlots * kBucketSeconds) < label) {
    seconds *= 2;
  }
  return seconds;
}

void CGraphCtrl::Draw(QImage& image, bool withBars) const {
  const QPalette& pal = palette();
  const int w = image.width();
  const int h = std::max(1, image.height() - AxisHeight());
  image.fill(pal.color(QPalette::Base));
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor text = pal.color(QPalette::Text);
  const QColor grid = Mix(pal.color(QPalette::Base), text, 0.15);
  p.setPen(grid);
  for (int k = 1; k <= 9; ++k) p.drawLine(0, k * h / 10, w - 1, k * h / 10);

  // The axis counts back from the newest interval, which stands at the right.
  if (series_.newestStart > 0) {
    const int64_t firstStart = series_.newestStart - int64_t{kSlots - 1} * kBucketSeconds;
    const int spacing = LabelSpacing(w);
    p.setFont(font());
    for (int slot = 0; slot <= kSlots; ++slot) {
      const int64_t t = firstStart + int64_t{slot} * kBucketSeconds;
      if (t % spacing != 0) continue;
      const int x = SlotLeft(slot, w);
      p.setPen(grid);
      p.drawLine(x, 0, x, h - 1);
      p.setPen(text);
      p.drawLine(x, h, x, h + 3);
      const QString label = ClockText(t);
      const int half = p.fontMetrics().horizontalAdvance(label) / 2;
      const int left = std::clamp(x - half, 0, std::max(0, w - 2 * half));
      p.drawText(QRect(left, h + 3, 2 * half + 2, AxisHeight() - 3), Qt::AlignLeft | Qt::AlignVCenter, label);
    }
  }
  p.setPen(text);
  p.drawLine(0, h, w - 1, h);
  if (!withBars) return;

  DrawBand(p, w, h);
  const uint64_t maximum = series_.maximum;
  if (maximum <= 1) return;
  const QColor sent = SentColour(pal);
  const QColor received = ReceivedColour(pal);
  for (int slot = 0; slot < kSlots; ++slot) {
    const int entry = EntryAt(slot);
    if (entry < 0) continue;
    const int left = SlotLeft(slot, w);
    const int width = SlotLeft(slot + 1, w) - left;
    // The pair fills its interval but for a gap that keeps it apart from
    // the next one.
    const int gap = width >= 3 ? std::max(1, width / 5) : 0;
    const int bar = std::max(1, (width - gap) / 2);
    const auto index = static_cast<std::size_t>(entry);
    const int sentHeight = BarHeight(series_.sent[index], maximum, h);
    const int receivedHeight = BarHeight(series_.received[index], maximum, h);
    p.fillRect(QRect(left + gap, h - sentHeight, bar, sentHeight), sent);
    p.fillRect(QRect(left + gap + bar, h - receivedHeight, bar, receivedHeight), received);
  }
}

void CGraphCtrl::SetSelection(CTimeRangeSelection* selection) {
  selection_ = selection;
  if (selection_ != nullptr) {
    connect(selection_, &CTimeRangeSelection::Changed, this, qOverload<>(&QWidget::update));
  }
}

int CGraphCtrl::SlotAt(int x, int width) {
  if (width <= 0) return 0;
  return std::clamp(static_cast<int>(static_cast<long long>(x) * kSlots / width), 0, kSlots - 1);
}

int64_t CGraphCtrl::FirstBucket() const {
  return TimeBucket(series_.newestStart) - (kSlots - 1);
}

bool CGraphCtrl::BandSlots(int& first, int& last) const {
  if (series_.newestStart <= 0) return false;
  if (dragging_) {
    first = SlotAt(std::min(dragFrom_, dragTo_), width());
    last = SlotAt(std::max(dragFrom_, dragTo_), width());
    return true;
  }
  if (selection_ == nullptr) return false;
  const std::optional<CTimeRange> range = selection_->Range();
  if (!range) return false;
  const int64_t from = std::max<int64_t>(range->fromBucket - FirstBucket(), 0);
  const int64_t to = std::min<int64_t>(range->toBucket - FirstBucket(), kSlots);
  if (from >= to) return false;
  first = static_cast<int>(from);
  last = static_cast<int>(to) - 1;
  return true;
}

void CGraphCtrl::DrawBand(QPainter& p, int w, int h) const {
  int first = 0;
  int last = 0;
  if (!BandSlots(first, last)) return;
  const QPalette& pal = palette();
  QColor shade = pal.color(QPalette::Highlight);
  shade.setAlpha(60);
  const int left = SlotLeft(first, w);
  const int right = SlotLeft(last + 1, w);
  p.fillRect(QRect(left, 0, right - left, h), shade);
  p.setPen(pal.color(QPalette::Highlight));
  p.drawLine(left, 0, left, h - 1);
  p.drawLine(right - 1, 0, right - 1, h - 1);
  // The band's two ends in clock time, inside it where they fit.
  const int64_t start = (FirstBucket() + first) * kBucketSeconds;
  const QString text = ClockText(start) + QChar(0x2013) + ClockText(start + int64_t{last - first + 1} * kBucketSeconds);
  const int textWidth = p.fontMetrics().horizontalAdvance(text) + 6;
  const int textLeft = std::clamp(left + 3, 0, std::max(0, w - textWidth));
  p.setPen(pal.color(QPalette::Text));
  p.drawText(QRect(textLeft, 2, textWidth, p.fontMetrics().height()), Qt::AlignLeft | Qt::AlignVCenter, text);
}

void CGraphCtrl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || selection_ == nullptr) return QWidget::mousePressEvent(event);
  dragging_ = true;
  dragFrom_ = dragTo_ = static_cast<int>(event->position().x());
  update();
}

void CGraphCtrl::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return QWidget::mouseMoveEvent(event);
  dragTo_ = static_cast<int>(event->position().x());
  update();
}

void CGraphCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  dragging_ = false;
  dragTo_ = static_cast<int>(event->position().x());
  // A click, or a graph with nothing drawn yet, selects nothing.
  if (std::abs(dragTo_ - dragFrom_) < 4 || series_.newestStart <= 0) {
    selection_->Clear();
  } else {
    const int64_t first = FirstBucket() + SlotAt(std::min(dragFrom_, dragTo_), width());
    const int64_t last = FirstBucket() + SlotAt(std::max(dragFrom_, dragTo_), width());
    selection_->Set(CTimeRange{first, last + 1});
  }
  update();
}

QString CGraphCtrl::ToolTipAt(int x) const {
  if (width() <= 0) return {};
  const int slot = static_cast<int>(static_cast<long long>(x) * kSlots / width());
  const int entry = EntryAt(slot);
  if (entry < 0) return {};
  const auto index = static_cast<std::size_t>(entry);
  const int64_t start = series_.newestStart - int64_t{kSlots - 1 - slot} * kBucketSeconds;
  return QStringLiteral("%1 to %2\nSent: %3\nReceived: %4")
      .arg(ClockText(start), ClockText(start + kBucketSeconds),
           QString::fromStdString(FormatByteSize(series_.sent[index])),
           QString::fromStdString(FormatByteSize(series_.received[index])));
}

bool CGraphCtrl::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = ToolTipAt(help->pos().x());
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, this);
    }
    return true;
  }
  return QWidget::event(event);
}

void CGraphCtrl::paintEvent(QPaintEvent*) {
  // Drawn off screen first and copied in one go, so the graph never flickers.
  QImage image(size(), QImage::Format_RGB32);
  if (image.isNull()) return;
  Draw(image, !firstPaint_);
  firstPaint_ = false;
  QPainter(this).drawImage(0, 0, image);
}
