#pragma once
#include <QWidget>

class QLabel;

// The About tab: the program's picture with the vendor and version beside
// it. A static page without commands. User-interface thread only.
class CAboutPage : public QWidget {
  Q_OBJECT

 public:
  // `version` is the text read at start-up; when empty "1.0.0.1" stays.
  explicit CAboutPage(const QString& version, QWidget* parent = nullptr);

  QString VersionText() const;

 private:
  QLabel* version_ = nullptr;
};
