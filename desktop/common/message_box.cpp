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

namespace {

std::function<bool(const QString&)>& Answerer() {
  static std::function<bool(const QString&)> answerer;
  return answerer;
}

}  // namespace

bool AskYesCancel(QWidget* parent, const QString& text) {
  if (Answerer()) return Answerer()(text);
  return QMessageBox::question(parent, QStringLiteral("Trafalyn"), text,
                               QMessageBox::Yes | QMessageBox::Cancel,
                               QMessageBox::Yes) == QMessageBox::Yes;
}

void SetQuestionAnswerer(std::function<bool(const QString&)> answerer) {
  Answerer() = std::move(answerer);
}
