#include "desktop/common/text_window.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>

#include "desktop/common/message_box.h"
#include "desktop/common/monospace_font.h"

const char* const CTextWindow::kWaitingText = "\r\nOutput will refresh every 5 seconds.  Please wait.";
const char* const CTextWindow::kCopiedMessage = "Text in display window has been copied to clipboard";

namespace {

// The renderings end lines with CR LF; the edit shows LF.
QString DisplayLines(const QString& text) {
  QString out = text;
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return out;
}

}  // namespace

CTextWindow::CTextWindow(QWidget* parent) : QWidget(parent) {
  copy_ = new QPushButton(tr("&Copy"), this);
  copy_->move(7, 7);
  copy_->resize(copy_->sizeHint().expandedTo(QSize(75, 0)));
  box_ = new QPlainTextEdit(this);
  box_->setFont(MonospaceFont());
  box_->setLineWrapMode(QPlainTextEdit::NoWrap);
  box_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box_->setPlainText(DisplayLines(QString::fromLatin1(kWaitingText)));
  connect(copy_, &QPushButton::clicked, this, &CTextWindow::CopyToClipboard);
}

void CTextWindow::SetText(const QString& text) {
  box_->setPlainText(DisplayLines(text));
  if (box_->document()->lineCount() > 5) {
    box_->moveCursor(QTextCursor::End);
    box_->verticalScrollBar()->setValue(box_->verticalScrollBar()->maximum());
  }
}

QString CTextWindow::Text() const { return box_->toPlainText(); }

void CTextWindow::Clear() { box_->clear(); }

void CTextWindow::CopyToClipboard() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (!box_->toPlainText().isEmpty()) {
    box_->selectAll();
    box_->ensureCursorVisible();
    box_->copy();
    QApplication::restoreOverrideCursor();
    ShowMessage(this, QString::fromLatin1(kCopiedMessage));
    return;
  }
  QApplication::restoreOverrideCursor();
}

void CTextWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int cx = event->size().width();
  const int cy = event->size().height();
  if (cx < 1 || cy < 1) return;
  const int top = copy_->geometry().bottom() + 1 + 4;
  box_->setGeometry(2, top, cx - 4, std::max(0, cy - top - 4));
}
