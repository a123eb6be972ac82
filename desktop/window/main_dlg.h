#pragma once
#include <memory>

#include <QByteArray>
#include <QString>
#include <QWidget>

#include "desktop/settings/settings_page.h"
#include "desktop/window/refresh_worker.h"
#include "desktop/window/traffic_pages.h"

class CAboutPage;
class CSettingValues;
class CTrayIcon;
class CTrafficEngine;
class QLabel;
class QTabWidget;

// The program's one top-level window: the tab host with the Settings, Host
// Stats, Conversations and About pages (Ctrl+1 to Ctrl+4), a status line,
// the tray icon where the desktop has a tray, and the refresh worker that
// keeps Host Stats, the status line and the tray's tooltip current. The
// first window, and a remembered one, fit the screen they open on.
//
// With "Close to tray" on (and a tray), the close box only hides the
// window; the tray's Quit closes it for good.
//
// Closing it (the close box, or Shutdown) joins the worker and shuts the
// engine down (the replay and the trace stop, every conversation becomes
// final, the final log pass runs); only then are the pages destroyed.
// User-interface thread only; the engine and the settings must outlive the
// window.
class CMainDlg : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSettingsTab = 0;
  static constexpr int kHostStatsTab = 1;
  static constexpr int kConversationsTab = 2;
  static constexpr int kServicesTab = 3;
  static constexpr int kAboutTab = 4;

  CMainDlg(CTrafficEngine& engine, CSettingValues& settings, const QString& version,
           const CDesktopStart& start = {}, QWidget* parent = nullptr);
  ~CMainDlg() override;

  // The closing sequence; idempotent. Called by the close event.
  void Shutdown();
  // Closes the window for good, Close to tray or not, and ends the event
  // loop: the tray's Quit, and the termination signals.
  void Quit();

  CSettingsPage* SettingsPage() const { return settingsPage_; }
  const CTrafficPages& TrafficPages() const { return trafficPages_; }
  QTabWidget* Tabs() const { return tabs_; }
  CRefreshWorker& Worker() { return *worker_; }

 public slots:
  // Shows every queued notification, one message box each.
  void ShowNotifications();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void OnTabChanged(int index);
  // Worker thread: builds the status text and the title and queues them to
  // the window.
  void PostStatus();
  void RestoreGeometry();
  // Stores the geometry if the user moved or resized the window.
  void SaveGeometry();
  // Shrinks the window to the available screen area and moves it back
  // onto it.
  void FitToScreen();
  void StartFromTray();
  void ShowFromTray();

  CTrafficEngine& engine_;
  CSettingValues& settings_;

  QTabWidget* tabs_ = nullptr;
  CSettingsPage* settingsPage_ = nullptr;
  CTrafficPages trafficPages_;
  CAboutPage* aboutPage_ = nullptr;
  QLabel* status_ = nullptr;
  CTrayIcon* tray_ = nullptr;
  bool quitting_ = false;
  std::unique_ptr<CRefreshWorker> worker_;
  bool showingNotifications_ = false;
  bool shutDown_ = false;
  QByteArray shownGeometry_;  // as the window first appeared
};
