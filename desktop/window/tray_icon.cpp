#include "desktop/window/tray_icon.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

#include "model/graph_series.h"

CTrayIcon::CTrayIcon(const QIcon& icon, CHooks hooks, QObject* parent)
    : QObject(parent), hooks_(std::move(hooks)), menu_(new QMenu), icon_(new QSystemTrayIcon(icon, this)) {
  start_ = menu_->addAction(QStringLiteral("Start"), this, [this] { hooks_.start(); });
  stop_ = menu_->addAction(QStringLiteral("Stop"), this, [this] { hooks_.stop(); });
  menu_->addSeparator();
  menu_->addAction(QStringLiteral("Show"), this, [this] { hooks_.show(); });
  menu_->addAction(QStringLiteral("Quit"), this, [this] { hooks_.quit(); });
  icon_->setContextMenu(menu_);
  icon_->setToolTip(QStringLiteral("Trafalyn"));
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) hooks_.show();
  });
  icon_->show();
}

// The menu has no parent widget to take it along.
CTrayIcon::~CTrayIcon() { delete menu_; }

QString CTrayIcon::ToolTip(const QString& state, uint64_t sentPerSecond, uint64_t receivedPerSecond) {
  return QStringLiteral("Trafalyn: %1\nSent %2/s, received %3/s")
      .arg(state, QString::fromStdString(FormatByteSize(sentPerSecond)),
           QString::fromStdString(FormatByteSize(receivedPerSecond)));
}

void CTrayIcon::SetStatus(const QString& state, uint64_t sentPerSecond, uint64_t receivedPerSecond,
                          bool tracing) {
  icon_->setToolTip(ToolTip(state, sentPerSecond, receivedPerSecond));
  start_->setEnabled(!tracing);
  stop_->setEnabled(tracing);
}
