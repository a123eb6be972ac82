#include "ui/traffic_pages.h"

#include <QWidget>

CTrafficPages CreateTrafficPages(CAppState&, QWidget* parent) {
  CTrafficPages pages;
  pages.hostStats = new QWidget(parent);
  pages.hostStats->setObjectName(QStringLiteral("hostStatsPage"));
  pages.conversations = new QWidget(parent);
  pages.conversations->setObjectName(QStringLiteral("conversationsPage"));
  return pages;
}
