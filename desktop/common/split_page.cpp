#include "desktop/common/split_page.h"

#include <QMouseEvent>
#include <QResizeEvent>
#include <algorithm>

CSplitPage::CSplitPage(QWidget* parent) : QWidget(parent) {
  handle_ = new QWidget(this);
  handle_->setCursor(Qt::SplitHCursor);
  handle_->installEventFilter(this);
  handle_->hide();
}

void CSplitPage::SetTopBar(QWidget* bar) {
  topBar_ = bar;
  topBar_->setGeometry(0, 0, width(), topBar_->sizeHint().height());
}

int CSplitPage::TopBarBottom() const {
  return topBar_ ? topBar_->sizeHint().height() : 0;
}

void CSplitPage::SetUpSplit(const CSplitPane& left, const CSplitPane& right, int percent) {
  left_ = left;
  right_ = right;
  percent_ = percent;
  haveSplit_ = true;
  // A page not yet sized by its parent has a meaningless width; the
  // proportion is taken at its first real resize instead.
  if (testAttribute(Qt::WA_Resized) || isVisible()) PlaceAtPercent();
}

void CSplitPage::PlaceAtPercent() {
  placed_ = true;
  const int w = width();
  const int h = height();
  const int split = static_cast<int>(static_cast<unsigned>(w) * static_cast<unsigned>(percent_) / 100u);
  leftPlace_ = QRect(left_.marginX, left_.flushTop ? 0 : left_.marginY,
                     split - left_.marginX - 2, h - left_.marginY);
  rightPlace_ = QRect(split + 2, right_.flushTop ? 0 : right_.marginY,
                      w - right_.marginX - split - 2, h - right_.marginY);
  divider_ = QRect(QPoint(split - 2, 0), QPoint(split + 1, h - 1));
  if (restoredDivider_ > 0) {
    MoveDivider(restoredDivider_);
    return;
  }
  Apply();
}

void CSplitPage::MoveDivider(int x) {
  if (!haveSplit_) return;
  const int lower = left_.marginX + left_.minWidth;
  const int upper = width() - right_.marginX - right_.minWidth;
  if (x < lower) x = lower;
  if (x > upper) x = upper;
  divider_ = QRect(QPoint(x - 2, divider_.top()), QPoint(x + 1, divider_.bottom()));
  leftPlace_.setWidth(x - left_.marginX - 2);
  rightPlace_ = QRect(x + 2, rightPlace_.y(), width() - right_.marginX - x - 2, rightPlace_.height());
  Apply();
}

void CSplitPage::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (topBar_) topBar_->setGeometry(0, 0, width(), topBar_->sizeHint().height());
  if (!haveSplit_) return;
  if (!placed_) {
    PlaceAtPercent();
    return;
  }
  const int cx = event->size().width();
  const int cy = event->size().height();
  leftPlace_.setHeight(cy - left_.marginY);
  rightPlace_.setWidth(cx - right_.marginX - (divider_.right() + 1));
  rightPlace_.setHeight(cy - right_.marginY);
  divider_.setBottom(cy - 1);
  // A remembered divider may have been cut short while the page still had
  // a provisional width; until the user drags it, it goes back where it was.
  if (restoredDivider_ > 0 && !dragged_ && DividerCentre() != restoredDivider_) {
    MoveDivider(restoredDivider_);
    return;
  }
  // The divider gives way rather than squeeze the right pane below its
  // minimum; the page's minimum width then needs only the two minimums, so
  // a wide split never stops the window from getting narrower.
  if (rightPlace_.width() < right_.minWidth) {
    MoveDivider(cx - right_.marginX - right_.minWidth);
    return;
  }
  Apply();
}

void CSplitPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  if (haveSplit_) PlaceAtPercent();
}

void CSplitPage::Apply() {
  // Negative sizes (a page squeezed below its minimum by its parent) would
  // be undefined for the child widgets; they are placed empty instead.
  auto clamp = [](QRect r) {
    return QRect(r.x(), r.y(), std::max(0, r.width()), std::max(0, r.height()));
  };
  if (left_.window) left_.window->setGeometry(clamp(leftPlace_));
  if (right_.window) right_.window->setGeometry(clamp(rightPlace_));
  handle_->setGeometry(clamp(divider_));
  handle_->show();
  handle_->raise();
  UpdateMinimumSize();
}

void CSplitPage::UpdateMinimumSize() {
  const int minW = left_.marginX + left_.minWidth + right_.minWidth + right_.marginX;
  const int minH = std::max(left_.minHeight + left_.marginY, right_.minHeight + right_.marginY);
  setMinimumSize(std::max(0, minW), std::max(0, minH));
}

bool CSplitPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched != handle_) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() == Qt::LeftButton) dragging_ = dragged_ = true;
      return true;
    }
    case QEvent::MouseMove: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (dragging_) {
        MoveDivider(handle_->mapToParent(e->position().toPoint()).x());
        emit DividerMoved();
      }
      return true;
    }
    case QEvent::MouseButtonRelease: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (dragging_ && e->button() == Qt::LeftButton) {
        // The handle moves under the pointer while dragging, so the
        // position is mapped before the move.
        MoveDivider(handle_->mapToParent(e->position().toPoint()).x());
        dragging_ = false;
        emit DividerMoved();
      }
      return true;
    }
    default:
      return QWidget::eventFilter(watched, event);
  }
}
