#pragma once
#include <memory>

#include <QString>
#include <QStringList>

class CAppState;
class CCaptureController;
class CMainDlg;
class CSettingsStore;

// The application object: owns the shared state, the settings store and the
// capture controller, turns the stored settings into the state in force at
// start-up, runs the main window, and tears everything down in order.
// User-interface thread only; a QApplication must exist.
class CTrafficApp {
 public:
  CTrafficApp();
  // ExitInstance, if it has not run.
  virtual ~CTrafficApp();

  CTrafficApp(const CTrafficApp&) = delete;
  CTrafficApp& operator=(const CTrafficApp&) = delete;

  // The start-up sequence, ending with the main window built (not shown).
  // `arguments` without the program's name: "-s" asks for auto-start,
  // "--settings FILE" names the settings file instead of the default one.
  void InitInstance(const QStringList& arguments);
  // Shows the main window and runs the event loop until it closes.
  int Run();
  // Shutdown: main window, settings store, capture controller, state.
  // Idempotent.
  void ExitInstance();

  // The program's version, "major.minor.patch".
  static QString ReadVersionText();

  CAppState& State() { return *state_; }
  CSettingsStore& Settings() { return *settings_; }
  CCaptureController& Capture() { return *capture_; }
  CMainDlg* MainWindow() { return mainWindow_.get(); }
  const QString& VersionText() const { return version_; }

 private:
  void RestoreSettings();

  QString version_;
  std::unique_ptr<CAppState> state_;
  std::unique_ptr<CCaptureController> capture_;
  std::unique_ptr<CSettingsStore> settings_;
  std::unique_ptr<CMainDlg> mainWindow_;
};
