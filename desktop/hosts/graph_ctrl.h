#pragma once
#include <QImage>
#include <QWidget>

struct CGraphSeries;

// The bars of the traffic graph: for each five-second interval, newest at
// the right, a sent bar and a received bar side by side, as wide as the
// control's width allows for the 40 intervals it spans, over a grid and a
// time axis with the clock time every 30 seconds (or every minute or more
// when the labels would not fit). The pointer's interval shows its values
// in a tooltip. Colours come from the palette, so a dark theme gives a dark
// graph.
//
// Paints the series its panel holds, a copy: painting never waits for the
// capture thread. User-interface thread only.
class CGraphCtrl : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSlots = 40;  // intervals across the width

  // `series` belongs to the parent panel and outlives the control.
  CGraphCtrl(const CGraphSeries& series, QWidget* parent = nullptr);

  // The bar colours for `palette`: brighter on a dark background.
  static QColor SentColour(const QPalette& palette);
  static QColor ReceivedColour(const QPalette& palette);

  // Pixels at the bottom taken by the time axis; the bars stand above it.
  int AxisHeight() const;

  // Draws the field, the grid, the axis and, when `withBars`, the bars into
  // `image`, which must be in a 32-bit RGB format.
  void Draw(QImage& image, bool withBars) const;

  // The tooltip text for the interval under `x`; empty where there is none.
  QString ToolTipAt(int x) const;

  // Until the first paint has happened, no bars are drawn.
  bool Painted() const { return !firstPaint_; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // The left edge of slot `slot` (0 oldest .. kSlots) in a plot `width` wide.
  static int SlotLeft(int slot, int width) { return slot * width / kSlots; }
  // The series entry drawn in `slot`, or -1.
  int EntryAt(int slot) const;
  // Seconds between two axis labels that keeps them apart at `width`.
  int LabelSpacing(int width) const;

  const CGraphSeries& series_;
  bool firstPaint_ = true;
};
