#include "desktop/window/traffic_pages.h"

#include <memory>

#include "desktop/conversations/conversations_page.h"
#include "desktop/hosts/host_stats_job.h"
#include "desktop/hosts/host_stats_page.h"
#include "desktop/services/services_page.h"

CTrafficPages CreateTrafficPages(CTrafficEngine& engine, QWidget* parent) {
  CTrafficPages pages;
  auto* hostStats = new CHostStatsPage(engine, parent);
  hostStats->setObjectName(QStringLiteral("hostStatsPage"));
  pages.hostStats = hostStats;
  pages.conversations = new CConversationsPage(engine, parent);
  pages.conversations->setObjectName(QStringLiteral("conversationsPage"));
  pages.services = new CServicesPage(engine, parent);
  pages.services->setObjectName(QStringLiteral("servicesPage"));
  pages.hostStatsSelected = [hostStats] { hostStats->RefreshNow(); };
  auto job = std::make_shared<CHostStatsJob>(engine, *hostStats);
  pages.hostStatsJob = [job](const CHostStatsTick& tick) { job->Run(tick); };
  return pages;
}
