#pragma once
#include <QRect>
#include <QWidget>

// One pane of a CSplitPage. Geometry in pixels of the page.
struct CSplitPane {
  QWidget* window = nullptr;  // the page's own child; the page owns it
  int minWidth = 50;          // smallest width the divider may leave it
  int minHeight = 50;         // only for the page's minimum size
  int marginX = 0;            // left pane: from the left edge; right pane: from the right edge
  int marginY = 0;            // top of the pane, also taken off its height
  bool flushTop = false;      // top at 0 instead of marginY (height still loses marginY)
};

// Base of the pages that show a list beside a detail pane, parted by a
// 4-pixel divider the user drags. The divider stays at the same pixel
// position when the page is resized, so the right pane absorbs every change
// of width, until the right pane reaches its minimum width: then the
// divider moves left. The page's minimum size holds both panes' minimum
// widths and heights.
//
// An optional top bar (the page's buttons) spans the page's top edge.
// User-interface thread only.
class CSplitPage : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDividerWidth = 4;

  explicit CSplitPage(QWidget* parent = nullptr);

  // Called once by the derived page after its controls exist. The divider
  // goes to `percent` of the page width now if the page already has its
  // size, otherwise at the page's first resize, and once more when the page
  // is first shown: a page in a tab widget is laid out at a provisional
  // width long before the user first sees it.
  void SetUpSplit(const CSplitPane& left, const CSplitPane& right, int percent);

  // Puts the divider's centre at `x`, kept between the left pane's minimum
  // and the right pane's minimum; the right limit wins when both cannot hold.
  void MoveDivider(int x);

  // A divider centre the user chose in an earlier run: it replaces the
  // percentage wherever SetUpSplit's placement would use it. 0 or less
  // keeps the percentage.
  void SetRestoredDivider(int x) { restoredDivider_ = x; }

  int DividerCentre() const { return divider_.center().x() + 1; }
  QRect DividerRect() const { return divider_; }
  QRect LeftPlacement() const { return leftPlace_; }
  QRect RightPlacement() const { return rightPlace_; }

 signals:
  // After every movement of the divider by the user (DividerCentre() has
  // the new place).
  void DividerMoved();

 protected:
  // The bar is laid out across the top at its preferred height; derived
  // pages put their panes below TopBarBottom().
  void SetTopBar(QWidget* bar);
  int TopBarBottom() const;

  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PlaceAtPercent();
  void Apply();
  void UpdateMinimumSize();

  CSplitPane left_;
  CSplitPane right_;
  bool haveSplit_ = false;
  bool placed_ = false;
  bool shown_ = false;
  int percent_ = 80;
  int restoredDivider_ = 0;
  QRect leftPlace_;
  QRect rightPlace_;
  QRect divider_;
  bool dragging_ = false;
  bool dragged_ = false;  // the user has moved the divider
  QWidget* handle_ = nullptr;  // the divider's own child widget: cursor and mouse
  QWidget* topBar_ = nullptr;
};
