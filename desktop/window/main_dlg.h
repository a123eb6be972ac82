#pragma once
#include <memory>
#include <mutex>

#include <QString>
#include <QWidget>

#include "desktop/window/refresh_worker.h"
#include "desktop/window/traffic_pages.h"

class CAboutPage;
class CAppState;
class CCaptureController;
class CSettingValues;
class CSettingsPage;
class QLabel;
class QTabWidget;

// The program's one top-level window: the tab host with the Settings, Host
// Stats, Conversations and About pages, a status line, and the refresh
// worker that keeps Host Stats and the log files current.
//
// Closing it (the close box, or Shutdown) sets the quit flag, joins the
// worker, stops the capture and, while logging is on, writes the final
// forced log pass; only then are the pages destroyed.
// User-interface thread only; the state, settings and capture controller
// must outlive the window.
class CMainDlg : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSettingsTab = 0;
  static constexpr int kHostStatsTab = 1;
  static constexpr int kConversationsTab = 2;
  static constexpr int kAboutTab = 3;

  CMainDlg(CAppState& state, CSettingValues& settings, CCaptureController& capture,
           const QString& version, QWidget* parent = nullptr);
  ~CMainDlg() override;

  // The closing sequence; idempotent. Called by the close event.
  void Shutdown();

  CSettingsPage* SettingsPage() const { return settingsPage_; }
  QTabWidget* Tabs() const { return tabs_; }
  CRefreshWorker& Worker() { return *worker_; }

 public slots:
  // Shows every queued notification, one message box each.
  void ShowNotifications();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnTabChanged(int index);
  // Worker thread: builds the status text and queues it to the window.
  void PostStatus();
  void RestoreGeometry();
  void SaveGeometry();

  CAppState& state_;
  CSettingValues& settings_;
  CCaptureController& capture_;

  QTabWidget* tabs_ = nullptr;
  CSettingsPage* settingsPage_ = nullptr;
  CTrafficPages trafficPages_;
  CAboutPage* aboutPage_ = nullptr;
  QLabel* status_ = nullptr;
  std::unique_ptr<CRefreshWorker> worker_;
  bool showingNotifications_ = false;
  bool shutDown_ = false;

  // The capture file being replayed, for the status line. Written on the
  // user-interface thread, read by the worker; held only for a copy.
  std::mutex replayMutex_;
  QString replayFile_;
};
