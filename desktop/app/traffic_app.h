#pragma once
#include <memory>

#include <QString>
#include <QStringList>

#include "desktop/settings/settings_page.h"

class CMainDlg;
class CSettingsStore;
class CTrafficEngine;

// What the desktop's command line asks for.
struct CDesktopArguments {
  QString settingsFile;  // --settings FILE; empty: the per-user file
  bool autoStart = false;  // -s
  QString replayFile;    // a capture file as the last argument
  QString local;         // --local A[,B]; empty: guess from the file
};

// Reads the desktop's arguments (without the program's name): "-s",
// "--settings FILE", "--local A[,B]", and a capture file as the last
// argument, after any options.
CDesktopArguments ParseDesktopArguments(const QStringList& arguments);

// The application object: owns the engine, the settings store and the main
// window, turns the stored settings into the options in force at start-up,
// runs the main window, and tears everything down in order.
// User-interface thread only; a QApplication must exist.
class CTrafficApp {
 public:
  CTrafficApp();
  // ExitInstance, if it has not run.
  ~CTrafficApp();

  CTrafficApp(const CTrafficApp&) = delete;
  CTrafficApp& operator=(const CTrafficApp&) = delete;

  // The start-up sequence, ending with the main window built (not shown)
  // and, with a capture file among the arguments, its replay started.
  void InitInstance(const QStringList& arguments);
  // Shows the main window and runs the event loop until it closes.
  int Run();
  // Shutdown: main window (which shuts the engine down), settings store,
  // engine. Idempotent.
  void ExitInstance();

  // The program's version, "major.minor.patch".
  static QString ReadVersionText();

  CTrafficEngine& Engine() { return *engine_; }
  CSettingsStore& Settings() { return *settings_; }
  CMainDlg* MainWindow() { return mainWindow_.get(); }
  const QString& VersionText() const { return version_; }

 private:
  CDesktopStart RestoreSettings();
  void ReplayAtStart(const CDesktopArguments& args);

  QString version_;
  std::unique_ptr<CTrafficEngine> engine_;
  std::unique_ptr<CSettingsStore> settings_;
  std::unique_ptr<CMainDlg> mainWindow_;
};
