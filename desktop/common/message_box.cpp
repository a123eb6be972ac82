#include "desktop/common/message_box.h"

#include <QMessageBox>

namespace {

std::function<void(const QString&)>& Sink() {
  static std::function<void(const QString&)> sink;
  return sink;
}

}  // namespace

void ShowMessage(QWidget* parent, const QString& text) {
  if (Sink()) {
    Sink()(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Trafalyn"), text, QMessageBox::Ok, parent);
  box.exec();
}

void SetMessageSink(std::function<void(const QString&)> sink) { Sink() = std::move(sink); }
