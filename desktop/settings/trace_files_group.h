#pragma once
#include <functional>
#include <string>

#include <QGroupBox>

class CSettingValues;
class CTrafficEngine;
class QCheckBox;
class QLineEdit;
class QPushButton;

// "Trace Files Settings" on the Settings page: Log to File, the log
// directory with its "V" chooser, and which logs are written (Stats, Data,
// Hex). Every control acts on the engine at once and stores its choice the
// moment it changes. Starts from the engine's log options.
//
// Invariants kept by the handlers: at least one of Stats and Data is
// checked; Hex is enabled only with Data. User-interface thread only.
class CTraceFilesGroup : public QGroupBox {
  Q_OBJECT

 public:
  // The engine and the settings must outlive the group.
  CTraceFilesGroup(CTrafficEngine& engine, CSettingValues& settings, QWidget* parent = nullptr);

  // Replaces the folder chooser of "V" (tests). It gets the start folder and
  // returns the chosen one, empty when cancelled.
  void SetFolderChooser(std::function<QString(const QString&)> chooser);

 private:
  void OnLogToFile();
  void OnChooseLogDir();
  void OnStats();
  void OnData();
  void OnHex();
  // The engine's options from the controls, and the choices stored.
  void Apply();

  CTrafficEngine& engine_;
  CSettingValues& settings_;
  std::string logDir_;  // where this run logs; a new choice takes effect at the next start
  std::function<QString(const QString&)> folderChooser_;
  QCheckBox* logToFile_ = nullptr;
  QLineEdit* logDirEdit_ = nullptr;
  QPushButton* chooseDir_ = nullptr;
  QCheckBox* stats_ = nullptr;
  QCheckBox* data_ = nullptr;
  QCheckBox* hex_ = nullptr;
};
