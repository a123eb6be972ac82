#include "desktop/common/text_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>

#include "desktop/common/byte_text_edit.h"
#include "desktop/common/message_box.h"
#include "desktop/common/monospace_font.h"

const char* const CTextWindow::kWaitingText = "\r\nOutput will refresh every 5 seconds.  Please wait.";
const char* const CTextWindow::kCopiedMessage = "Text in display window has been copied to clipboard";

CTextWindow::CTextWindow(QWidget* parent) : QWidget(parent) {
  // "C&opy": C belongs to the page's "&Clear".
  copy_ = new QPushButton(tr("C&opy"), this);
  copy_->move(7, 7);
  copy_->resize(copy_->sizeHint().expandedTo(QSize(75, 0)));
  follow_ = new QCheckBox(tr("&Follow"), this);
  follow_->setChecked(true);
  follow_->setToolTip(tr("Keep the newest packets in view; scrolling up holds the view"));
  follow_->resize(follow_->sizeHint());
  follow_->move(copy_->geometry().right() + 13,
                copy_->geometry().center().y() - follow_->height() / 2);
  box_ = new CByteTextEdit(this);
  box_->setFont(MonospaceFont());
  box_->setLineWrapMode(QPlainTextEdit::NoWrap);
  box_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box_->SetLatin1(QString::fromLatin1(kWaitingText));
  connect(copy_, &QPushButton::clicked, this, &CTextWindow::CopyToClipboard);
  QScrollBar* bar = box_->verticalScrollBar();
  connect(bar, &QScrollBar::valueChanged, this, &CTextWindow::OnScrolled);
  connect(bar, &QScrollBar::rangeChanged, this, [this] {
    if (follow_->isChecked() && !setting_) ScrollToEnd();
  });
  connect(follow_, &QCheckBox::clicked, this, [this](bool on) {
    if (on) ScrollToEnd();
  });
}

void CTextWindow::SetText(const QString& text) {
  QScrollBar* bar = box_->verticalScrollBar();
  const int held = bar->value();
  setting_ = true;
  box_->SetLatin1(text);
  if (!follow_->isChecked()) {
    bar->setValue(held);
  } else if (box_->document()->lineCount() > 5) {
    ScrollToEnd();
  }
  setting_ = false;
}

void CTextWindow::ScrollToEnd() {
  const bool wasSetting = setting_;
  setting_ = true;
  box_->moveCursor(QTextCursor::End);
  box_->verticalScrollBar()->setValue(box_->verticalScrollBar()->maximum());
  setting_ = wasSetting;
}

void CTextWindow::OnScrolled(int value) {
  if (setting_) return;
  // Only the user's scrolling gets here: up leaves Follow, the bottom
  // rejoins it.
  follow_->setChecked(value >= box_->verticalScrollBar()->maximum());
}

QString CTextWindow::Text() const { return box_->toPlainText(); }

void CTextWindow::Clear() { box_->SetLatin1(QString()); }

void CTextWindow::CopyToClipboard() {
  const QString text = box_->CopyText();
  if (text.isEmpty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  box_->selectAll();
  box_->ensureCursorVisible();
  QApplication::clipboard()->setText(text);
  QApplication::restoreOverrideCursor();
  ShowMessage(this, QString::fromLatin1(kCopiedMessage));
}

void CTextWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int cx = event->size().width();
  const int cy = event->size().height();
  if (cx < 1 || cy < 1) return;
  const int top = copy_->geometry().bottom() + 1 + 4;
  box_->setGeometry(2, top, cx - 4, std::max(0, cy - top - 4));
}
