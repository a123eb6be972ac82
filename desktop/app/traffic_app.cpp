#include "desktop/app/traffic_app.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <exception>

#include "desktop/app/settings_store.h"
#include "desktop/common/message_box.h"
#include "desktop/common/remembered_values.h"
#include "desktop/settings/capture_file_opener.h"
#include "desktop/window/main_dlg.h"
#include "engine/capture_file_replay.h"
#include "engine/traffic_engine.h"
#include "output/value_format.h"
#include "settings/filter_rule_store.h"

CDesktopArguments ParseDesktopArguments(const QStringList& arguments) {
  CDesktopArguments args;
  for (int i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (a == QStringLiteral("--settings") && hasValue) {
      args.settingsFile = arguments[++i];
    } else if (a == QStringLiteral("--local") && hasValue) {
      args.local = arguments[++i];
    } else if (a == QStringLiteral("-s")) {
      // Only the switch itself counts: "--settings" must not start a trace.
      args.autoStart = true;
    } else if (i == arguments.size() - 1 && !a.startsWith(QLatin1Char('-'))) {
      args.replayFile = a;
    }
  }
  return args;
}

CTrafficApp::CTrafficApp() = default;

CTrafficApp::~CTrafficApp() { ExitInstance(); }

QString CTrafficApp::ReadVersionText() { return QStringLiteral(TRAFALYN_VERSION); }

void CTrafficApp::InitInstance(const QStringList& arguments) {
  version_ = ReadVersionText();
  engine_ = std::make_unique<CTrafficEngine>();
  const CDesktopArguments args = ParseDesktopArguments(arguments);
  settings_ = args.settingsFile.isEmpty() ? std::make_unique<CSettingsStore>()
                                          : std::make_unique<CSettingsStore>(args.settingsFile);
  settings_->CreateKeys();
  if (!settings_->CanBeRead()) {
    // Shown once the window is up, with the other start-up messages.
    engine_->Notifications().Post(
        CSettingsStore::UnreadableMessage(settings_->FilePath()).toStdString());
  }

  try {
    engine_->EnumerateInterfaces();
  } catch (const std::exception& e) {
    ShowMessage(nullptr, QStringLiteral("Could not list the capture devices: %1")
                             .arg(QString::fromLocal8Bit(e.what())));
  }
  CDesktopStart start = RestoreSettings();
  start.autoStart = args.autoStart && args.replayFile.isEmpty();
  mainWindow_ = std::make_unique<CMainDlg>(*engine_, *settings_, version_, start);
  if (!args.replayFile.isEmpty()) ReplayAtStart(args);
}

CDesktopStart CTrafficApp::RestoreSettings() {
  CDesktopStart start;
  start.interfaceIndex = settings_->ReadInterfaceKey();
  CCaptureOptions options = engine_->CaptureOptions();
  options.headerOnly = settings_->ReadHeaderOnly() == "1";
  // A new user traces both protocols: a replay must not drop UDP unasked.
  options.tcp = settings_->ReadSwitch(remembered::kTcp, true);
  options.udp = settings_->ReadSwitch(remembered::kUdp, true);
  options.role = settings_->ReadNumber(remembered::kHostRole, 0) == 1 ? EHostRole::kServer : EHostRole::kClient;
  engine_->SetCaptureOptions(options);
  engine_->SetPayloadLimit(static_cast<std::size_t>(settings_->ReadMemoryLimit()) << 20);
  CLogOptions logs = engine_->LogOptions();
  logs.dir = QDir::currentPath().toStdString();
  const std::string logDir = settings_->ReadLogDir();
  if (!logDir.empty() && QFileInfo(QString::fromStdString(logDir)).isDir()) logs.dir = logDir;
  logs.enabled = settings_->ReadAutoLog() == "1";
  logs.stats = settings_->ReadSwitch(remembered::kLogStats, true);
  logs.data = settings_->ReadSwitch(remembered::kLogData, false);
  logs.hex = settings_->ReadSwitch(remembered::kLogHex, false);
  engine_->SetLogOptions(logs);
  LoadFilterRules(*settings_, engine_->Filters());
  engine_->Names().SetReverseLookups(settings_->ReadReverseLookups() == "1");
  return start;
}

void CTrafficApp::ReplayAtStart(const CDesktopArguments& args) {
  QString local = args.local;
  // Opened once for the guess and the replay: "-" and FIFOs cannot be read twice.
  auto input = std::make_unique<CCaptureInput>(args.replayFile.toStdString());
  if (local.isEmpty()) {
    // A file opened from the file manager replays at once: the guess is
    // used without a prompt, and the status line names it.
    QStringList guesses;
    for (const CIpAddr& a : MostFrequentAddresses(*input)) {
      guesses << QString::fromStdString(FormatAddress(a));
    }
    local = guesses.join(QLatin1Char(' '));
  }
  if (local.isEmpty()) {
    ShowMessage(nullptr, QStringLiteral("%1 holds no IP traffic to take the local address from; "
                                        "open it with --local ADDRESS.")
                             .arg(args.replayFile));
    return;
  }
  mainWindow_->SettingsPage()->ReplayFile(args.replayFile, local, std::move(input));
}

int CTrafficApp::Run() {
  mainWindow_->show();
  return QApplication::exec();
}

void CTrafficApp::ExitInstance() {
  // The window goes first: closing it joins the refresh worker and shuts
  // the engine down, so nothing runs on another thread afterwards.
  mainWindow_.reset();
  settings_.reset();
  engine_.reset();
}
