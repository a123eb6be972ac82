#include "desktop/hosts/graph_text_ctrl.h"

#include <QPainter>
#include <string>
#include <vector>

#include "model/graph_series.h"

CGraphTextCtrl::CGraphTextCtrl(const CGraphSeries& series, QWidget* parent)
    : QWidget(parent), series_(series) {
  QFont font(QStringLiteral("Arial"), 8, QFont::Normal);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
}

int CGraphTextCtrl::LineHeight() const { return fontMetrics().height() + 2; }

int CGraphTextCtrl::ColumnWidth() const {
  // The widest labels of the scales are "1000 KB" and "1000 MB".
  return fontMetrics().horizontalAdvance(QStringLiteral("1000 MB")) + 2;
}

void CGraphTextCtrl::Draw(QPainter& p, QSize size) const {
  const std::vector<std::string>& labels = series_.labels;
  if (labels.empty()) return;
  p.fillRect(QRect(QPoint(0, 0), size), palette().color(QPalette::Window));
  p.setFont(font());
  p.setPen(palette().color(QPalette::WindowText));
  const int line = LineHeight();
  const int count = static_cast<int>(labels.size());
  const int shown = count * line < size.height() ? count : 1;
  const int slot = size.height() / count;
  for (int i = 0; i < shown; ++i) {
    const QRect box(0, i * slot, size.width(), line + 3);
    p.drawText(box, Qt::AlignRight | Qt::AlignTop,
               QString::fromStdString(labels[static_cast<std::size_t>(count - 1 - i)]));
  }
}

void CGraphTextCtrl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Draw(p, size());
}
