#pragma once
#include <QWidget>

class QPainter;
struct CGraphSeries;

// The scale labels left of the traffic graph, largest at the top, one on
// every second grid line; only the largest when the column is too short for
// all of them. Reads the labels of the series its panel holds.
// User-interface thread only.
class CGraphTextCtrl : public QWidget {
  Q_OBJECT

 public:
  // `series` belongs to the parent panel and outlives the control.
  CGraphTextCtrl(const CGraphSeries& series, QWidget* parent = nullptr);

  // Paints the labels into a `size` area.
  void Draw(QPainter& p, QSize size) const;

  // Font height + 2 pixels.
  int LineHeight() const;

  // Pixels the widest label of any scale needs.
  int ColumnWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const CGraphSeries& series_;
};
