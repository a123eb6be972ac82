#pragma once
#include <QWidget>

class CAppState;
class QPainter;

// The scale labels left of the traffic graph, largest at the top, one on
// every second grid line; only the largest when the column is too short for
// all of them. Reads the labels under the graph lock only.
// User-interface thread only.
class CGraphTextCtrl : public QWidget {
  Q_OBJECT

 public:
  CGraphTextCtrl(CAppState& state, QWidget* parent = nullptr);

  // Paints the labels into a `size` area. Takes the graph lock.
  void Draw(QPainter& p, QSize size) const;

  // Font height + 2 pixels.
  int LineHeight() const;

  // Pixels the widest label of any scale needs.
  int ColumnWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CAppState& state_;
};
