#pragma once
#include <QString>
#include <QWidget>

class CByteTextEdit;
class QCheckBox;
class QPushButton;

// A block of monospaced text under a "C&opy" button and a "&Follow"
// switch: the Host Stats page's live trace view. It shows whatever text its
// owner sets (bytes 0x80 to 0xFF as ".", see CByteTextEdit); the user may
// type into it, and the next SetText replaces what was typed.
//
// While Follow is on (at first) a new text shows its end; scrolling up turns
// Follow off and the view then holds its place through new texts, until the
// user scrolls back to the bottom or turns Follow on again.
// User-interface thread only.
class CTextWindow : public QWidget {
  Q_OBJECT

 public:
  static const char* const kWaitingText;
  static const char* const kCopiedMessage;

  explicit CTextWindow(QWidget* parent = nullptr);

  // Replaces the whole text (one character per byte, CR LF or LF line
  // ends). With Follow on, a text longer than 5 lines is scrolled so that
  // its end is in view.
  void SetText(const QString& text);
  // What the box shows.
  QString Text() const;
  void Clear();

  CByteTextEdit* TextBox() const { return box_; }
  QPushButton* CopyButton() const { return copy_; }
  QCheckBox* FollowBox() const { return follow_; }

 public slots:
  // Copies the whole text, its bytes as they came, to the clipboard and
  // says so; an empty text copies nothing and says nothing.
  void CopyToClipboard();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ScrollToEnd();
  void OnScrolled(int value);

  QPushButton* copy_;
  QCheckBox* follow_;
  CByteTextEdit* box_;
  bool setting_ = false;
};
