#pragma once
#include <functional>
#include <memory>

#include <QWidget>

class CAppState;
class CCaptureFileOpener;
class CCaptureController;
class CSettingValues;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

// The Settings tab: interface choice, Start/Stop, protocol switches, filter
// rules, header-only mode, host role and the log files. Every control acts
// on the shared state at once and writes its persistent choice to the
// settings store at the moment it changes. User-interface thread only.
//
// Invariants kept by the handlers: at least one of TCP and UDP is checked;
// at least one of Stats and Data is checked and Hex is enabled only with
// Data; Start and Stop are enabled exactly when an interface is selected.
class CSettingsPage : public QWidget {
  Q_OBJECT

 public:
  // Initialises the controls from the state (restoring the stored
  // interface, and with the auto-start flag starting the trace). The page
  // keeps references to all three; they must outlive it. Its destructor
  // stops a running trace.
  CSettingsPage(CAppState& state, CSettingValues& settings, CCaptureController& capture,
                QWidget* parent = nullptr);
  ~CSettingsPage() override;

  // Replaces the folder chooser of "V" (tests). It gets the start folder and
  // returns the chosen one, empty when cancelled.
  void SetFolderChooser(std::function<QString(const QString&)> chooser);

  // Replays a capture file into the model on a thread of its own, with
  // `localAddresses` (dotted quads separated by blanks or commas) as the
  // local host. Stops a running trace first.
  void ReplayFile(const QString& path, const QString& localAddresses);
  // Ends a replay in progress and waits for it (before shutdown).
  void StopReplay();

 public slots:
  void OnInterfaceSelected(int item);
  void OnStart();
  void OnStop();
  void OnCaptureMode();
  void OnTcp();
  void OnUdp();
  void OnFilters();
  void OnLogToFile();
  void OnChooseLogDir();
  void OnData();
  void OnHex();
  void OnStats();
  // A trace ended by itself (the device could not be opened, or failed):
  // show it as stopped unless a newer trace has started since.
  void OnTraceEnded(int traceId);

 signals:
  // The capture file being replayed; empty when none is.
  void ReplayFileChanged(const QString& path);

 private:
  void BuildControls();
  void InitControls();
  void ShowRules();
  void ShowTraceRunning(bool running);

  CAppState& state_;
  CSettingValues& settings_;
  CCaptureController& capture_;
  std::function<QString(const QString&)> folderChooser_;
  std::unique_ptr<CCaptureFileOpener> replay_;

  QComboBox* interfaces_ = nullptr;
  QLabel* listing_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* openFile_ = nullptr;
  QPushButton* filters_ = nullptr;
  QLabel* summary_ = nullptr;
  QCheckBox* tcp_ = nullptr;
  QCheckBox* udp_ = nullptr;
  QListWidget* rules_ = nullptr;
  QRadioButton* headersOnly_ = nullptr;
  QRadioButton* packetData_ = nullptr;
  QRadioButton* client_ = nullptr;
  QRadioButton* server_ = nullptr;
  QCheckBox* logToFile_ = nullptr;
  QLineEdit* logDir_ = nullptr;
  QPushButton* chooseDir_ = nullptr;
  QCheckBox* stats_ = nullptr;
  QCheckBox* data_ = nullptr;
  QCheckBox* hex_ = nullptr;
};
