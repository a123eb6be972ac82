#include "desktop/window/main_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "engine/app_state.h"
#include "engine/capture_controller.h"
#include "settings/setting_values.h"
#include "desktop/window/about_page.h"
#include "desktop/window/app_artwork.h"
#include "desktop/settings/final_log_pass.h"
#include "desktop/common/message_box.h"
#include "desktop/settings/settings_page.h"

namespace {

const char* const kGeometryValue = "WindowGeometry";

// Opening a device fails on Linux mostly for want of the capture
// capabilities; say how to grant them rather than leave the user with the
// library's terse reason alone.
QString WithAdvice(const QString& message) {
  if (!message.startsWith(QStringLiteral("Unable to open the adapter")) ||
      !message.contains(QStringLiteral("permi"), Qt::CaseInsensitive)) {
    return message;
  }
  return message + QStringLiteral(
                       "\n\nCapturing needs the capture permission. Run Trafalyn as root, or grant "
                       "it once with:\nsudo setcap cap_net_raw,cap_net_admin+p %1")
                       .arg(QCoreApplication::applicationFilePath());
}

QString Count(uint64_t value) { return QString::number(static_cast<qulonglong>(value)); }

}  // namespace

CMainDlg::CMainDlg(CAppState& state, CSettingValues& settings, CCaptureController& capture,
                   const QString& version, QWidget* parent)
    : QWidget(parent), state_(state), settings_(settings), capture_(capture),
      worker_(std::make_unique<CRefreshWorker>(state)) {
  setWindowTitle(QStringLiteral("Trafalyn"));
  setWindowIcon(MakeAppIcon());
  setObjectName(QStringLiteral("mainWindow"));

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("tabs"));
  settingsPage_ = new CSettingsPage(state_, settings_, capture_, tabs_);
  trafficPages_ = CreateTrafficPages(state_, tabs_);
  aboutPage_ = new CAboutPage(version, tabs_);
  tabs_->addTab(settingsPage_, QStringLiteral("Settings"));
  tabs_->addTab(trafficPages_.hostStats, QStringLiteral("Host Stats"));
  tabs_->addTab(trafficPages_.conversations, QStringLiteral("Conversations"));
  tabs_->addTab(aboutPage_, QStringLiteral("About"));
  tabs_->setCurrentIndex(kSettingsTab);
  connect(tabs_, &QTabWidget::currentChanged, this, &CMainDlg::OnTabChanged);
  connect(settingsPage_, &CSettingsPage::ReplayFileChanged, this, [this](const QString& path) {
    std::lock_guard<std::mutex> lock(replayMutex_);
    replayFile_ = path;
  });

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  auto* statusBar = new QStatusBar(this);
  statusBar->addWidget(status_, 1);
  statusBar->setSizeGripEnabled(true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  layout->setSpacing(2);
  layout->addWidget(tabs_, 1);
  layout->addWidget(statusBar);

  // Wide enough at first start for the fitted list columns and a graph that
  // shows more than a few intervals; a stored geometry replaces it.
  resize(1180, 760);
  RestoreGeometry();

  // Posted from any thread, possibly under the traffic lock: only queue.
  state_.notifications.SetListener([this] {
    QMetaObject::invokeMethod(this, &CMainDlg::ShowNotifications, Qt::QueuedConnection);
  });
  worker_->SetHostStatsJob(trafficPages_.hostStatsJob);
  worker_->SetCycleHook([this] { PostStatus(); });
  worker_->Start();
  // Messages posted before the window existed (device enumeration).
  QMetaObject::invokeMethod(this, &CMainDlg::ShowNotifications, Qt::QueuedConnection);
}

CMainDlg::~CMainDlg() { Shutdown(); }

void CMainDlg::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  state_.quit = 1;
  worker_->Stop();
  settingsPage_->StopReplay();
  // Stopped before the final pass, so that no packet is recorded after the
  // last chance to log it.
  capture_.Stop();
  if (state_.logToFile.load() != 0) RunFinalLogPass(state_);
  state_.notifications.SetListener({});
}

void CMainDlg::closeEvent(QCloseEvent* event) {
  SaveGeometry();
  Shutdown();
  // A failure of the final pass is still worth a word before the end.
  ShowNotifications();
  event->accept();
}

void CMainDlg::OnTabChanged(int index) {
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  worker_->SetHostStatsShown(index == kHostStatsTab);
  if (QWidget* page = tabs_->widget(index)) page->setFocus();
  if (index == kHostStatsTab && trafficPages_.hostStatsSelected) trafficPages_.hostStatsSelected();
  QGuiApplication::restoreOverrideCursor();
}

void CMainDlg::ShowNotifications() {
  // A message box runs a nested event loop in which the next queued call
  // can arrive; the outer call shows whatever came meanwhile.
  if (showingNotifications_) return;
  showingNotifications_ = true;
  for (;;) {
    const std::vector<std::string> messages = state_.notifications.TakeAll();
    if (messages.empty()) break;
    for (const std::string& message : messages) {
      ShowMessage(this, WithAdvice(QString::fromStdString(message)));
    }
  }
  showingNotifications_ = false;
}

void CMainDlg::PostStatus() {
  QString text;
  if (capture_.IsCapturing()) {
    const CInterfaceRecord* device = state_.selectedInterface.load();
    const CCaptureStats stats = capture_.Stats();
    text = QStringLiteral("Tracing %1    Frames seen: %2    Recorded: %3    Kernel drops: %4")
               .arg(device != nullptr ? QString::fromStdString(device->deviceName) : QString(),
                    Count(stats.framesSeen), Count(stats.framesRecorded), Count(stats.kernelDrops));
  } else {
    QString replaying;
    {
      std::lock_guard<std::mutex> lock(replayMutex_);
      replaying = replayFile_;
    }
    text = replaying.isEmpty() ? QStringLiteral("Stopped") : QStringLiteral("Replaying %1").arg(replaying);
  }
  QMetaObject::invokeMethod(this, [this, text] { status_->setText(text); }, Qt::QueuedConnection);
}

void CMainDlg::RestoreGeometry() {
  const std::string stored = settings_.ReadText(kGeometryValue, "");
  if (stored.empty()) return;
  restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(stored)));
}

void CMainDlg::SaveGeometry() {
  settings_.WriteValue(kGeometryValue, saveGeometry().toBase64().toStdString());
}
