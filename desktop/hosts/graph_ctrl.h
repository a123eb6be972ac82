#pragma once
#include <QImage>
#include <QWidget>

struct CGraphSeries;
struct CTimeRange;
class CTimeRangeSelection;

// The bars of the traffic graph: for each five-second interval, newest at
// the right, a sent bar and a received bar side by side, as wide as the
// control's width allows for the 40 intervals it spans, over a grid and a
// time axis with the clock time every 30 seconds (or every minute or more
// when the labels would not fit). The pointer's interval shows its values
// in a tooltip. Colours come from the palette, so a dark theme gives a dark
// graph.
//
// A drag across the graph selects a range of whole intervals, shaded with
// its start and end times; a click without a drag clears it.
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

  // The selection that drags set; null (the default) makes none.
  void SetSelection(CTimeRangeSelection* selection);

  // Until the first paint has happened, no bars are drawn.
  bool Painted() const { return !firstPaint_; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // The left edge of slot `slot` (0 oldest .. kSlots) in a plot `width` wide.
  static int SlotLeft(int slot, int width) { return slot * width / kSlots; }
  // The series entry drawn in `slot`, or -1.
  int EntryAt(int slot) const;
  // Seconds between two axis labels that keeps them apart at `width`.
  int LabelSpacing(int width) const;
  // The slot under `x` in a control `width` wide, within the graph.
  static int SlotAt(int x, int width);
  // The bucket drawn in slot 0.
  int64_t FirstBucket() const;
  // The slots [first, last] to shade: the drag under way, else the
  // selection's range as far as it is in view; false when there is none.
  bool BandSlots(int& first, int& last) const;
  void DrawBand(QPainter& p, int w, int h) const;

  const CGraphSeries& series_;
  bool firstPaint_ = true;
  CTimeRangeSelection* selection_ = nullptr;
  bool dragging_ = false;
  int dragFrom_ = 0;  // x where the drag began
  int dragTo_ = 0;
};
