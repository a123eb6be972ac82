#include "desktop/window/traffic_pages.h"

#include <memory>

#include "desktop/conversations/conversations_page.h"
#include "desktop/hosts/host_stats_job.h"
#include "desktop/hosts/host_stats_page.h"

CTrafficPages CreateTrafficPages(CAppState& state, QWidget* parent) {
  CTrafficPages pages;
  auto* hostStats = new CHostStatsPage(state, parent);
  hostStats->setObjectName(QStringLiteral("hostStatsPage"));
  pages.hostStats = hostStats;
  pages.conversations = new CConversationsPage(state, parent);
  pages.conversations->setObjectName(QStringLiteral("conversationsPage"));
  pages.hostStatsSelected = [hostStats] { hostStats->RefreshNow(); };
  auto job = std::make_shared<CHostStatsJob>(state, *hostStats);
  pages.hostStatsJob = [job](const CHostStatsTick& tick) { job->Run(tick); };
  return pages;
}
