#pragma once
#include <QString>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// A block of monospaced text under a "&Copy" button: the Host Stats page's
// live trace view. It shows whatever text its owner sets; the user may type
// into it, and the next SetText replaces what was typed.
// User-interface thread only.
class CTextWindow : public QWidget {
  Q_OBJECT

 public:
  static const char* const kWaitingText;
  static const char* const kCopiedMessage;

  explicit CTextWindow(QWidget* parent = nullptr);

  // Replaces the whole text (CR LF or LF line ends) and, when it is longer
  // than 5 lines, scrolls so that its end is in view.
  void SetText(const QString& text);
  QString Text() const;
  void Clear();

  QPlainTextEdit* TextBox() const { return box_; }
  QPushButton* CopyButton() const { return copy_; }

 public slots:
  // Copies the whole text to the clipboard and says so; an empty text
  // copies nothing and says nothing.
  void CopyToClipboard();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPushButton* copy_;
  QPlainTextEdit* box_;
};
