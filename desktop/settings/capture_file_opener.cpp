#include "desktop/settings/capture_file_opener.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QRegularExpression>

#include "engine/app_state.h"
#include "engine/capture_file_replay.h"
#include "desktop/common/message_box.h"
#include "desktop/settings/replay_runner.h"

CCaptureFileOpener::CCaptureFileOpener(CAppState& state, QWidget* owner)
    : state_(state), owner_(owner), runner_(std::make_unique<CReplayRunner>(state)) {}

CCaptureFileOpener::~CCaptureFileOpener() { Stop(); }

void CCaptureFileOpener::Stop() { runner_->Stop(); }

void CCaptureFileOpener::Open() {
  const QString path = QFileDialog::getOpenFileName(
      owner_, QStringLiteral("Open Capture File"), QString(),
      QStringLiteral("Capture files (*.pcap *.pcapng *.cap);;All files (*)"));
  if (path.isEmpty()) return;
  std::string error;
  const std::optional<CIpAddr> frequent = MostFrequentAddress(path.toStdString(), &error);
  QString suggestion;
  if (frequent) {
    const CIpAddr& a = *frequent;
    suggestion = QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
  }
  bool ok = false;
  const QString addresses = QInputDialog::getText(
      owner_, QStringLiteral("Local Addresses"),
      QStringLiteral("Addresses of the local host in this capture (separated by blanks):"),
      QLineEdit::Normal, suggestion, &ok);
  if (ok) Replay(path, addresses);
}

bool CCaptureFileOpener::Replay(const QString& path, const QString& localAddresses) {
  std::vector<CIpAddr> local;
  static const QRegularExpression kSeparators(QStringLiteral("[\\s,;]+"));
  for (const QString& word : localAddresses.split(kSeparators, Qt::SkipEmptyParts)) {
    const QStringList parts = word.split(QLatin1Char('.'));
    CIpAddr address{};
    bool valid = parts.size() == 4;
    for (int i = 0; valid && i < 4; ++i) {
      const int octet = parts[i].toInt(&valid);
      valid = valid && octet >= 0 && octet <= 255;
      if (valid) address[static_cast<std::size_t>(i)] = static_cast<uint8_t>(octet);
    }
    if (!valid) {
      ShowMessage(owner_, QStringLiteral("Not an IPv4 address: %1").arg(word));
      return false;
    }
    local.push_back(address);
  }
  if (local.empty()) {
    ShowMessage(owner_, QStringLiteral("Please enter the local host's address."));
    return false;
  }
  if (beforeStart_) beforeStart_();
  emit ReplayFileChanged(path);
  runner_->Start(path.toStdString(), std::move(local), [this, path](const CReplayResult& result) {
    QMetaObject::invokeMethod(this, [this, path, result] { OnDone(path, result); }, Qt::QueuedConnection);
  });
  return true;
}

void CCaptureFileOpener::OnDone(const QString& path, const CReplayResult& result) {
  // A newer replay may already run; only the last one's end clears the name.
  if (!runner_->IsRunning()) emit ReplayFileChanged(QString());
  // A replay cut short by closing the window needs no report.
  if (state_.Quitting()) return;
  QString text = QStringLiteral("Replayed %1: %2 frames read, %3 recorded.")
                     .arg(path)
                     .arg(static_cast<qulonglong>(result.framesRead))
                     .arg(static_cast<qulonglong>(result.framesRecorded));
  if (result.cancelled) text += QStringLiteral(" The replay was stopped.");
  if (!result.Ok()) text += QStringLiteral("\n") + QString::fromStdString(result.error);
  ShowMessage(owner_, text);
}
