#pragma once
#include <QPlainTextEdit>
#include <QString>

class QMimeData;

// A pane for text built from packet bytes, one character per byte (as
// QString::fromLatin1 makes them), CR LF or LF line ends. Bytes 0x80 to
// 0xFF show as ".": fonts draw them as stray letters, or not at all. This
// is display only: a copy from the pane, whole or in part, hands out the
// bytes themselves. Once the user types into the pane, copies take what
// the pane shows. User-interface thread only.
class CByteTextEdit : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit CByteTextEdit(QWidget* parent = nullptr);

  // Replaces the whole text.
  void SetLatin1(const QString& text);
  // What a copy of the whole pane gives: the bytes with LF line ends.
  QString CopyText() const;

 protected:
  QMimeData* createMimeDataFromSelection() const override;

 private:
  QString original_;  // LF line ends; index for index what the pane shows
  bool setting_ = false;
  bool edited_ = false;
};
