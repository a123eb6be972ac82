#include "desktop/settings/capture_file_opener.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QRegularExpression>
#include <optional>
#include <vector>

#include "desktop/common/message_box.h"
#include "engine/traffic_engine.h"
#include "output/value_format.h"

namespace {

// The addresses of `text`, or nothing with `error` set.
std::optional<std::vector<CIpAddr>> ParseAddresses(const QString& text, QString& error) {
  std::vector<CIpAddr> local;
  static const QRegularExpression kSeparators(QStringLiteral("[\\s,;]+"));
  for (const QString& word : text.split(kSeparators, Qt::SkipEmptyParts)) {
    const std::optional<CIpAddr> address = CIpAddr::FromText(word.toStdString());
    if (!address) {
      error = QStringLiteral("Not an IP address: %1").arg(word);
      return std::nullopt;
    }
    local.push_back(*address);
  }
  if (local.empty()) {
    error = QStringLiteral("Please enter the local host's address.");
    return std::nullopt;
  }
  return local;
}

}  // namespace

CCaptureFileOpener::CCaptureFileOpener(CTrafficEngine& engine, QWidget* owner)
    : engine_(engine), owner_(owner) {}

bool CCaptureFileOpener::ConfirmClear() {
  if (!engine_.Session()->HoldsData()) return true;
  return AskYesCancel(owner_, QStringLiteral("The traffic shown now will be cleared. Continue?"));
}

void CCaptureFileOpener::Open() {
  const QString path = QFileDialog::getOpenFileName(
      owner_, QStringLiteral("Open Capture File"), QString(),
      QStringLiteral("Capture files (*.pcap *.pcapng *.cap);;All files (*)"));
  if (path.isEmpty()) return;
  // Opened once for the guess and the replay: a FIFO cannot be read twice.
  auto input = std::make_unique<CCaptureInput>(path.toStdString());
  QStringList frequent;
  for (const CIpAddr& a : MostFrequentAddresses(*input)) {
    frequent << QString::fromStdString(FormatAddress(a));
  }
  QString text = frequent.join(QLatin1Char(' '));
  // A mistyped address asks again with what was typed, rather than
  // cancelling the replay.
  for (;;) {
    bool ok = false;
    text = QInputDialog::getText(
        owner_, QStringLiteral("Local Addresses"),
        QStringLiteral("Addresses of the local host in this capture (separated by blanks):"),
        QLineEdit::Normal, text, &ok);
    if (!ok) return;
    QString problem;
    if (ParseAddresses(text, problem)) break;
    ShowMessage(owner_, problem);
  }
  if (!ConfirmClear()) return;
  Replay(path, text, std::move(input));
}

bool CCaptureFileOpener::Replay(const QString& path, const QString& localAddresses,
                                std::unique_ptr<CCaptureInput> input) {
  QString problem;
  std::optional<std::vector<CIpAddr>> local = ParseAddresses(localAddresses, problem);
  if (!local) {
    ShowMessage(owner_, problem);
    return false;
  }
  if (beforeStart_) beforeStart_();
  if (input == nullptr) input = std::make_unique<CCaptureInput>(path.toStdString());
  engine_.StartReplay(std::move(input), std::move(*local), [this, path](const CReplayResult& result) {
    QMetaObject::invokeMethod(this, [this, path, result] { OnDone(path, result); }, Qt::QueuedConnection);
  });
  return true;
}

void CCaptureFileOpener::OnDone(const QString& path, const CReplayResult& result) {
  // A replay cut short by closing the window needs no report.
  if (engine_.Cancel().Cancelled()) return;
  QString text = QStringLiteral("Replayed %1: %2 frames read, %3 recorded.")
                     .arg(path)
                     .arg(static_cast<qulonglong>(result.framesRead))
                     .arg(static_cast<qulonglong>(result.framesRecorded));
  if (result.cancelled) text += QStringLiteral(" The replay was stopped.");
  if (!result.Ok()) text += QStringLiteral("\n") + QString::fromStdString(result.error);
  ShowMessage(owner_, text);
}
