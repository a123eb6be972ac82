#include "ui/graph_panel.h"

#include <QLabel>
#include <QResizeEvent>

#include "ui/graph_ctrl.h"
#include "ui/graph_text_ctrl.h"

const char* const CGraphPanel::kReceivedLegend = "Recieved";
const char* const CGraphPanel::kSentLegend = "Sent";

namespace {

QLabel* MakeLegend(const char* text, const QColor& colour, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setAlignment(Qt::AlignCenter);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setAutoFillBackground(true);
  QPalette pal = label->palette();
  pal.setColor(QPalette::Window, Qt::black);
  pal.setColor(QPalette::WindowText, colour);
  label->setPalette(pal);
  label->resize(75, 20);
  return label;
}

}  // namespace

CGraphPanel::CGraphPanel(CAppState& state, QWidget* parent) : QWidget(parent) {
  receivedLegend_ = MakeLegend(kReceivedLegend, QColor(255, 0, 0), this);
  receivedLegend_->move(80, 11);
  sentLegend_ = MakeLegend(kSentLegend, QColor(255, 255, 0), this);
  sentLegend_->move(164, 11);
  graph_ = new CGraphCtrl(state, this);
  labels_ = new CGraphTextCtrl(state, this);
}

void CGraphPanel::Repaint() {
  graph_->update();
  labels_->update();
}

void CGraphPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int cx = event->size().width();
  const int cy = event->size().height();
  if (cx < 1 || cy < 1) return;
  const int top = receivedLegend_->geometry().bottom() + 1 + 4;
  const int height = std::max(0, cy - top - 4);
  const int x = receivedLegend_->width();
  graph_->setGeometry(x, top, std::max(0, cx - x - 2), height);
  labels_->setGeometry(2, top, receivedLegend_->contentsRect().width(), height);
}
