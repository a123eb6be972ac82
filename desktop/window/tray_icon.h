#pragma once
#include <cstdint>
#include <functional>

#include <QObject>
#include <QString>

class QAction;
class QIcon;
class QMenu;
class QSystemTrayIcon;

// The program's icon in the system tray, for desktops that offer one
// (QSystemTrayIcon::isSystemTrayAvailable()). Its tooltip shows the trace
// state and the current send and receive rates; its menu offers Start,
// Stop, Show and Quit, and a click on it shows the window.
// User-interface thread only.
class CTrayIcon : public QObject {
  Q_OBJECT

 public:
  struct CHooks {
    std::function<void()> start;
    std::function<void()> stop;
    std::function<void()> show;
    std::function<void()> quit;
  };

  // Shows the icon at once.
  CTrayIcon(const QIcon& icon, CHooks hooks, QObject* parent = nullptr);
  ~CTrayIcon() override;

  // `state` as the status line says it ("Tracing eth0", "Stopped"), the
  // rates in bytes per second; Start and Stop follow `tracing`.
  void SetStatus(const QString& state, uint64_t sentPerSecond, uint64_t receivedPerSecond, bool tracing);

  // "Trafalyn: <state>" and a line with both rates.
  static QString ToolTip(const QString& state, uint64_t sentPerSecond, uint64_t receivedPerSecond);

 private:
  CHooks hooks_;
  QMenu* menu_;
  QSystemTrayIcon* icon_;
  QAction* start_;
  QAction* stop_;
};
