#include "desktop/app/traffic_app.h"

#include <QApplication>
#include <QFileInfo>

#include "engine/app_state.h"
#include "desktop/app/settings_store.h"
#include "engine/capture_controller.h"
#include "settings/filter_rule_store.h"
#include "model/traffic_model.h"
#include "desktop/window/main_dlg.h"
#include "desktop/common/message_box.h"

CTrafficApp::CTrafficApp() = default;

CTrafficApp::~CTrafficApp() { ExitInstance(); }

QString CTrafficApp::ReadVersionText() { return QStringLiteral(TRAFALYN_VERSION); }

void CTrafficApp::InitInstance(const QStringList& arguments) {
  version_ = ReadVersionText();
  state_ = std::make_unique<CAppState>();
  capture_ = std::make_unique<CCaptureController>(*state_);
  state_->quit = 0;

  QString settingsFile;
  const int fileAt = arguments.indexOf(QStringLiteral("--settings"));
  if (fileAt >= 0 && fileAt + 1 < arguments.size()) settingsFile = arguments[fileAt + 1];
  settings_ = settingsFile.isEmpty() ? std::make_unique<CSettingsStore>()
                                     : std::make_unique<CSettingsStore>(settingsFile);
  settings_->CreateKeys();

  state_->headerOnly = settings_->ReadHeaderOnly() == "1" ? 1 : 0;
  try {
    capture_->EnumerateInterfaces();
  } catch (...) {
    ShowMessage(nullptr, QStringLiteral(
                             "Call to WinPCap failed.  Please install WinPCap (included in download)."));
  }
  RestoreSettings();
  // Only the switch itself counts: "--settings" must not start a trace.
  if (arguments.contains(QStringLiteral("-s"))) state_->autoStart = 1;

  mainWindow_ = std::make_unique<CMainDlg>(*state_, *settings_, *capture_, version_);
}

void CTrafficApp::RestoreSettings() {
  const int index = settings_->ReadInterfaceKey();
  state_->interfaceIndex = index;
  // The first interface is never restored: 0 is also what a missing value
  // reads as.
  if (index > 0 && static_cast<std::size_t>(index) < state_->interfaces.size()) {
    state_->selectedInterface = state_->InterfaceAt(index);
  }
  const std::string logDir = settings_->ReadLogDir();
  if (!logDir.empty() && QFileInfo(QString::fromStdString(logDir)).isDir()) state_->logDir = logDir;
  if (settings_->ReadAutoLog() == "1") state_->logToFile = 1;
  LoadFilterRules(*settings_, state_->Model().filterRules);
}

int CTrafficApp::Run() {
  mainWindow_->show();
  return QApplication::exec();
}

void CTrafficApp::ExitInstance() {
  // The window goes first: closing it joins the refresh worker and stops
  // the capture, so nothing runs on another thread afterwards.
  mainWindow_.reset();
  settings_.reset();
  capture_.reset();
  state_.reset();
}
