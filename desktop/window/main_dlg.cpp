#include "desktop/window/main_dlg.h"

#include <QCloseEvent>
#include <QShowEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "desktop/common/message_box.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/range/time_range_selection.h"
#include "desktop/hosts/host_stats_page.h"
#include "desktop/services/services_page.h"
#include "desktop/settings/settings_page.h"
#include "desktop/window/about_page.h"
#include "desktop/window/app_artwork.h"
#include "desktop/window/tray_icon.h"
#include "desktop/window/view_memory.h"
#include "engine/traffic_engine.h"
#include "output/value_format.h"
#include "settings/setting_values.h"

namespace {

const char* const kGeometryValue = "WindowGeometry";
// The first window's size, where the screen has room for it: wide enough
// for the fitted list columns and a graph of a fair width.
constexpr QSize kFirstSize(1180, 760);

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

QString ByteCount(uint64_t value) {
  return QString::fromStdString(FormatByteCount(static_cast<int64_t>(value)));
}

QString AddressText(const std::vector<CIpAddr>& addresses) {
  QStringList texts;
  for (const CIpAddr& a : addresses) texts << QString::fromStdString(FormatAddress(a));
  return texts.join(QStringLiteral(", "));
}

}  // namespace

CMainDlg::CMainDlg(CTrafficEngine& engine, CSettingValues& settings, const QString& version,
                   const CDesktopStart& start, QWidget* parent)
    : QWidget(parent), engine_(engine), settings_(settings),
      worker_(std::make_unique<CRefreshWorker>()) {
  setWindowTitle(QStringLiteral("Trafalyn"));
  setWindowIcon(MakeAppIcon());
  setObjectName(QStringLiteral("mainWindow"));

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("tabs"));
  settingsPage_ = new CSettingsPage(engine_, settings_, start, tabs_);
  trafficPages_ = CreateTrafficPages(engine_, tabs_);
  aboutPage_ = new CAboutPage(version, tabs_);
  tabs_->addTab(settingsPage_, QStringLiteral("Settings"));
  tabs_->addTab(trafficPages_.hostStats, QStringLiteral("Host Stats"));
  tabs_->addTab(trafficPages_.conversations, QStringLiteral("Conversations"));
  tabs_->addTab(trafficPages_.services, QStringLiteral("Services"));
  tabs_->addTab(aboutPage_, QStringLiteral("About"));
  tabs_->setCurrentIndex(kSettingsTab);
  connect(tabs_, &QTabWidget::currentChanged, this, &CMainDlg::OnTabChanged);
  for (int i = 0; i < tabs_->count(); ++i) {
    auto* key = new QShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_1 + i)), this);
    connect(key, &QShortcut::activated, tabs_, [this, i] { tabs_->setCurrentIndex(i); });
  }
  // Esc drops a selected range of the graph wherever the focus is.
  auto* clearRange = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(clearRange, &QShortcut::activated, trafficPages_.range, &CTimeRangeSelection::Clear);
  const auto filterOnHost = [this](const CIpAddr& host) { settingsPage_->EditFilters(&host); };
  trafficPages_.hostStats->SetFilterOnHost(filterOnHost);
  trafficPages_.conversations->SetFilterOnHost(filterOnHost);
  RememberViews(settings_, *tabs_, *trafficPages_.hostStats, *trafficPages_.conversations);

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

  // A stored geometry replaces the first size; either must fit the screen.
  resize(kFirstSize);
  RestoreGeometry();
  FitToScreen();

  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_ = new CTrayIcon(windowIcon(),
                          {[this] { StartFromTray(); }, [this] { settingsPage_->OnStop(); },
                           [this] { ShowFromTray(); }, [this] { Quit(); }},
                          this);
  }

  // Posted from any thread, possibly under the traffic lock: only queue.
  engine_.Notifications().SetListener([this] {
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
  worker_->Stop();
  // The replay and the trace stop before the final pass, so that no packet
  // is recorded after the last chance to log it.
  engine_.Shutdown();
  engine_.Notifications().SetListener({});
}

void CMainDlg::closeEvent(QCloseEvent* event) {
  SaveGeometry();
  // The trace goes on with the window closed; the tray's Quit ends it all.
  if (tray_ != nullptr && !quitting_ && settingsPage_->CloseToTray()) {
    hide();
    event->ignore();
    return;
  }
  Shutdown();
  // A failure of the final pass is still worth a word before the end.
  ShowNotifications();
  event->accept();
}

void CMainDlg::StartFromTray() {
  // Without a chosen interface there is nothing to start: the Settings page
  // is where one is chosen.
  if (!settingsPage_->CanStart()) {
    ShowFromTray();
    tabs_->setCurrentIndex(kSettingsTab);
    return;
  }
  settingsPage_->OnStart();
}

void CMainDlg::ShowFromTray() {
  showNormal();
  raise();
  activateWindow();
}

void CMainDlg::Quit() {
  quitting_ = true;
  close();
  // The window may have been hidden already, and a hidden window's close
  // does not end the event loop by itself.
  QCoreApplication::quit();
}

void CMainDlg::FitToScreen() {
  const QScreen* screen = QGuiApplication::screenAt(geometry().center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect room = screen->availableGeometry();
  // Room for the frame the window manager adds around the client area.
  const QSize frame(16, 48);
  const QSize fitted = size().boundedTo(room.size() - frame).expandedTo(minimumSizeHint());
  if (fitted != size()) resize(fitted);
  const QRect wanted(geometry().topLeft(), fitted + frame);
  if (!room.contains(wanted)) {
    const int x = std::clamp(wanted.left(), room.left(), std::max(room.left(), room.right() - wanted.width() + 1));
    const int y = std::clamp(wanted.top(), room.top(), std::max(room.top(), room.bottom() - wanted.height() + 1));
    move(x, y);
  }
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
    const std::vector<std::string> messages = engine_.Notifications().TakeAll();
    if (messages.empty()) break;
    for (const std::string& message : messages) {
      ShowMessage(this, WithAdvice(QString::fromStdString(message)));
    }
  }
  showingNotifications_ = false;
}

void CMainDlg::PostStatus() {
  QString text;
  QString state;
  QString title = QStringLiteral("Trafalyn");
  const std::shared_ptr<CCaptureSession> session = engine_.Session();
  const CCaptureSession::CSource& source = session->Source();
  CCaptureController& capture = engine_.Capture();
  const bool tracing = capture.IsCapturing();
  if (tracing) {
    const CCaptureStats stats = capture.Stats();
    state = QStringLiteral("Tracing %1").arg(QString::fromStdString(capture.DeviceName()));
    text = QStringLiteral("%1    Frames seen: %2    Recorded: %3    Kernel drops: %4")
               .arg(state, Count(stats.framesSeen), Count(stats.framesRecorded), Count(stats.kernelDrops));
  } else if (!source.file.empty()) {
    // The file is named for as long as its data is shown.
    const QString file = QString::fromStdString(source.file);
    state = QStringLiteral("%1 %2").arg(engine_.IsReplaying() ? QStringLiteral("Replaying") : QStringLiteral("Showing"),
                                        QFileInfo(file).fileName());
    text = QStringLiteral("%1 %2    Local host: %3")
               .arg(engine_.IsReplaying() ? QStringLiteral("Replaying") : QStringLiteral("Showing"),
                    file, AddressText(source.local));
    title = QStringLiteral("%1 - Trafalyn").arg(QFileInfo(file).fileName());
  } else {
    text = state = QStringLiteral("Stopped");
  }
  // The rates of the newest whole interval; the last one is still filling.
  uint64_t sentRate = 0;
  uint64_t receivedRate = 0;
  const CGraphSeries graph = session->Graph();
  if (graph.sent.size() >= 2) {
    sentRate = graph.sent[graph.sent.size() - 2] / CTrafficSampler::kBucketSeconds;
    receivedRate = graph.received[graph.received.size() - 2] / CTrafficSampler::kBucketSeconds;
  }
  if (session->HoldsData()) {
    const CPayloadStats payload = session->PayloadStats();
    text += QStringLiteral("    Payload held: %1    Released: %2")
                .arg(ByteCount(payload.held), ByteCount(payload.released));
    if (payload.notStored > 0) text += QStringLiteral("    Not stored: %1").arg(Count(payload.notStored));
  }
  if (const uint64_t lost = engine_.Logs().PacketsNotWritten()) {
    text += QStringLiteral("    Not logged: %1").arg(Count(lost));
  }
  if (const auto flows = engine_.Flows().Stats()) {
    text += QStringLiteral("    Flows sent: %1").arg(Count(flows->sent));
    if (flows->Lost() > 0) text += QStringLiteral(", dropped: %1").arg(Count(flows->Lost()));
  }
  if (const CCaptureStats stats = capture.Stats(); stats.framesSaved + stats.framesNotSaved > 0) {
    text += QStringLiteral("    Frames saved: %1").arg(Count(stats.framesSaved));
    if (stats.framesNotSaved > 0)
      text += QStringLiteral(", not saved: %1").arg(Count(stats.framesNotSaved));
  }
  // Said once here rather than on every row of the lists.
  if (const std::string note = engine_.ProcessNote(); !note.empty()) {
    text += QStringLiteral("    ") + QString::fromStdString(note);
  }
  QMetaObject::invokeMethod(
      this,
      [this, text, title, state, sentRate, receivedRate, tracing] {
        status_->setText(text);
        setWindowTitle(title);
        if (tray_ != nullptr) tray_->SetStatus(state, sentRate, receivedRate, tracing);
      },
      Qt::QueuedConnection);
}

void CMainDlg::RestoreGeometry() {
  const std::string stored = settings_.ReadText(kGeometryValue, "");
  if (stored.empty()) return;
  restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(stored)));
}

void CMainDlg::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shownGeometry_.isEmpty()) shownGeometry_ = saveGeometry();
}

void CMainDlg::SaveGeometry() {
  // A window left where it appeared changes nothing worth a rewrite of the
  // settings file.
  const QByteArray geometry = saveGeometry();
  if (shownGeometry_.isEmpty() || geometry == shownGeometry_) return;
  settings_.WriteValue(kGeometryValue, geometry.toBase64().toStdString());
}
