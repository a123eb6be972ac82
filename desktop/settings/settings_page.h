#pragma once
#include <functional>
#include <memory>

#include <QWidget>

#include "engine/capture_input.h"

class CCaptureFileOpener;
class CIpAddr;
class CSettingValues;
class CTraceFilesGroup;
class CTrafficEngine;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;

// How the desktop starts: the stored interface and whether to trace on it
// at once ("-s").
struct CDesktopStart {
  int interfaceIndex = -1;
  bool autoStart = false;
};

// The Settings tab: interface choice, Start/Stop, protocol switches, filter
// rules, header-only mode, reverse lookups, the memory limit, host role, the log files and Close to tray. Every
// control acts on the engine at once and writes its persistent choice to the
// settings store at the moment it changes; the switches start as the
// engine's options are (the stored ones, restored at start-up).
// User-interface thread only.
//
// Invariants kept by the handlers: at least one of TCP and UDP is checked;
// Start and Stop are enabled exactly when an interface is selected.
class CSettingsPage : public QWidget {
  Q_OBJECT

 public:
  // Initialises the controls from the engine's options and `start`
  // (restoring the stored interface, and with auto-start starting the
  // trace). The engine and the settings must outlive the page. Its
  // destructor stops a running trace.
  CSettingsPage(CTrafficEngine& engine, CSettingValues& settings, const CDesktopStart& start,
                QWidget* parent = nullptr);
  ~CSettingsPage() override;

  // Replaces the folder chooser of "V" (tests). It gets the start folder and
  // returns the chosen one, empty when cancelled.
  void SetFolderChooser(std::function<QString(const QString&)> chooser);

  // Replays a capture file in a session of its own, with `localAddresses`
  // (dotted quads separated by blanks or commas) as the local host. Stops a
  // running trace first. False, with a message, for a bad address. `input`
  // is the file opened already, or null.
  bool ReplayFile(const QString& path, const QString& localAddresses,
                  std::unique_ptr<CCaptureInput> input = nullptr);

  CCaptureFileOpener& Opener() { return *replay_; }

  // Runs the filter dialog, with `host` filled in as the rule to add when
  // given; OK puts the rules in force, shows them and stores them.
  void EditFilters(const CIpAddr* host);

  // Whether an interface is chosen, so that Start can trace on it.
  bool CanStart() const { return interfaceIndex_ >= 0; }

  // Whether closing the window should leave the program in the tray.
  bool CloseToTray() const;
  QCheckBox* CloseToTrayBox() const { return closeToTray_; }

 public slots:
  void OnInterfaceSelected(int item);
  void OnStart();
  void OnStop();
  void OnCaptureMode();
  void OnTcp();
  void OnUdp();
  void OnRole();
  void OnFilters();
  void OnReverseLookups();
  void OnMemoryLimit(int mebibytes);
  // A trace ended by itself (the device could not be opened, or failed):
  // show it as stopped unless a newer trace has started since.
  void OnTraceEnded(int traceId);

 private:
  void BuildControls();
  void InitControls();
  void ShowRules();
  void ShowTraceRunning(bool running);
  // The engine's options from the controls.
  void ApplyCaptureOptions();
  // The same, and the switches stored.
  void StoreSwitches();

  CTrafficEngine& engine_;
  CSettingValues& settings_;
  const CDesktopStart startAt_;
  int interfaceIndex_ = -1;  // the interface selected, -1 none
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
  QCheckBox* reverseLookups_ = nullptr;
  QSpinBox* memoryLimit_ = nullptr;
  QRadioButton* client_ = nullptr;
  QRadioButton* server_ = nullptr;
  CTraceFilesGroup* traceFiles_ = nullptr;
  QCheckBox* closeToTray_ = nullptr;
};
