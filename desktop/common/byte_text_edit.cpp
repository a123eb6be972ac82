#include "desktop/common/byte_text_edit.h"

#include <QMimeData>
#include <QTextCursor>

CByteTextEdit::CByteTextEdit(QWidget* parent) : QPlainTextEdit(parent) {
  connect(this, &QPlainTextEdit::textChanged, this, [this] {
    if (!setting_) edited_ = true;
  });
}

void CByteTextEdit::SetLatin1(const QString& text) {
  original_ = text;
  original_.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QString shown = original_;
  for (QChar& c : shown) {
    if (c.unicode() >= 0x80) c = QLatin1Char('.');
  }
  setting_ = true;
  setPlainText(shown);
  setting_ = false;
  edited_ = false;
}

QString CByteTextEdit::CopyText() const { return edited_ ? toPlainText() : original_; }

QMimeData* CByteTextEdit::createMimeDataFromSelection() const {
  if (edited_) return QPlainTextEdit::createMimeDataFromSelection();
  // The pane shows one character for every character of the original, and
  // one position per line break, so the selection's positions index both.
  const QTextCursor cursor = textCursor();
  auto* data = new QMimeData;
  data->setText(original_.mid(cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart()));
  return data;
}
