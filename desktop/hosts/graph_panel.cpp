#include "desktop/hosts/graph_panel.h"

#include <QLabel>
#include <QResizeEvent>
#include <algorithm>

#include "desktop/hosts/graph_ctrl.h"
#include "desktop/hosts/graph_text_ctrl.h"

const char* const CGraphPanel::kReceivedLegend = "Received";
const char* const CGraphPanel::kSentLegend = "Sent";

namespace {

constexpr int kLegendLeft = 80;  // the received box's usual place
constexpr int kLegendTop = 11;
constexpr int kLegendGap = 9;    // between the boxes, side by side
constexpr int kStackGap = 3;     // between the boxes, stacked
constexpr int kEdge = 2;         // panel edge to the labels, graph and legend
constexpr int kBelowLegend = 4;  // legend to the graph
constexpr QSize kUsualLegend(75, 20);

QLabel* MakeLegend(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setAlignment(Qt::AlignCenter);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setAutoFillBackground(true);
  return label;
}

}  // namespace

CGraphPanel::CGraphPanel(QWidget* parent) : QWidget(parent) {
  receivedLegend_ = MakeLegend(kReceivedLegend, this);
  sentLegend_ = MakeLegend(kSentLegend, this);
  ColourLegend();
  const QFontMetrics fm = receivedLegend_->fontMetrics();
  const int text = std::max(fm.horizontalAdvance(QString::fromLatin1(kReceivedLegend)),
                            fm.horizontalAdvance(QString::fromLatin1(kSentLegend)));
  legendNeed_ = text + 2 * receivedLegend_->frameWidth() + 6;
  legendSize_ = kUsualLegend.expandedTo(
      QSize(legendNeed_, fm.height() + 2 * receivedLegend_->frameWidth() + 4));
  receivedLegend_->setGeometry(QRect(QPoint(kLegendLeft, kLegendTop), legendSize_));
  sentLegend_->setGeometry(
      QRect(QPoint(kLegendLeft + legendSize_.width() + kLegendGap, kLegendTop), legendSize_));
  graph_ = new CGraphCtrl(series_, this);
  labels_ = new CGraphTextCtrl(series_, this);
}

void CGraphPanel::ColourLegend() {
  // The boxes wear the graph's own field and bar colours.
  const QPalette& own = palette();
  const std::pair<QLabel*, QColor> boxes[] = {{receivedLegend_, CGraphCtrl::ReceivedColour(own)},
                                              {sentLegend_, CGraphCtrl::SentColour(own)}};
  for (const auto& [label, colour] : boxes) {
    QPalette pal = own;
    pal.setColor(QPalette::Window, own.color(QPalette::Base));
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
  }
}

void CGraphPanel::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) ColourLegend();
}

void CGraphPanel::SetSeries(CGraphSeries series) {
  series_ = std::move(series);
  graph_->update();
  labels_->update();
}

void CGraphPanel::LayOutLegend(int width) {
  const int usual = legendSize_.width();
  const int h = legendSize_.height();
  const int room = width - 2 * kEdge;
  int left = kLegendLeft;
  int boxWidth = usual;
  bool stacked = false;
  if (kLegendLeft + 2 * usual + kLegendGap > width - kEdge) {
    if (2 * usual + kLegendGap <= room) {
      left = width - kEdge - (2 * usual + kLegendGap);
    } else if (2 * legendNeed_ + kLegendGap <= room) {
      left = kEdge;
      boxWidth = (room - kLegendGap) / 2;
    } else {
      left = kEdge;
      boxWidth = std::clamp(room, 1, usual);
      stacked = true;
    }
  }
  receivedLegend_->setGeometry(left, kLegendTop, boxWidth, h);
  if (stacked) {
    sentLegend_->setGeometry(left, kLegendTop + h + kStackGap, boxWidth, h);
  } else {
    sentLegend_->setGeometry(left + boxWidth + kLegendGap, kLegendTop, boxWidth, h);
  }
}

void CGraphPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int cx = event->size().width();
  const int cy = event->size().height();
  if (cx < 1 || cy < 1) return;
  LayOutLegend(cx);
  const int top = std::max(receivedLegend_->geometry().bottom(), sentLegend_->geometry().bottom()) + 1 +
                  kBelowLegend;
  const int height = std::max(0, cy - top - 4);
  // The label column is as wide as a legend box, but never narrower than
  // the widest scale label, however far the boxes had to shrink.
  const int column = std::max(receivedLegend_->contentsRect().width(), labels_->ColumnWidth());
  const int x = kEdge + column;
  graph_->setGeometry(x, top, std::max(0, cx - x - kEdge), height);
  // The labels stand beside the bars, not beside the time axis below them.
  labels_->setGeometry(kEdge, top, column, std::max(0, height - graph_->AxisHeight()));
}
