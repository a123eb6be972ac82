#pragma once
#include <QImage>
#include <QWidget>

struct CGraphSeries;

// The needles of the traffic graph: for each five-second interval, newest at
// the right, a red received needle and, 8 pixels to its left, a yellow sent
// needle, on a black field with a green grid. Paints the series its panel
// holds, a copy: painting never waits for the capture thread. User-interface
// thread only.
class CGraphCtrl : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kStep = 20;        // pixels between intervals and grid lines
  static constexpr int kNeedleGap = 8;    // sent needle left of the received one
  static constexpr int kFirstNeedle = 4;  // newest received needle, from the right

  // `series` belongs to the parent panel and outlives the control.
  CGraphCtrl(const CGraphSeries& series, QWidget* parent = nullptr);

  // Draws the field, the grid and, when `withNeedles`, the needles into
  // `image`, which must be in a 32-bit RGB format.
  void Draw(QImage& image, bool withNeedles) const;

  // Until the first paint has happened, no needles are drawn.
  bool Painted() const { return !firstPaint_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const CGraphSeries& series_;
  bool firstPaint_ = true;
};
