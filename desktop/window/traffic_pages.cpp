#include "desktop/window/traffic_pages.h"

#include <memory>

#include "desktop/common/list_sort_proxy.h"
#include "desktop/common/report_list.h"
#include "desktop/conversations/conversation_list_model.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/hosts/host_stats_job.h"
#include "desktop/hosts/host_stats_page.h"
#include "desktop/range/time_range_selection.h"
#include "desktop/services/services_page.h"
#include "engine/traffic_engine.h"

CTrafficPages CreateTrafficPages(CTrafficEngine& engine, QWidget* parent) {
  CTrafficPages pages;
  auto* hostStats = new CHostStatsPage(engine, parent);
  hostStats->setObjectName(QStringLiteral("hostStatsPage"));
  pages.hostStats = hostStats;
  pages.conversations = new CConversationsPage(engine, parent);
  pages.conversations->setObjectName(QStringLiteral("conversationsPage"));
  pages.services = new CServicesPage(engine, parent);
  pages.services->setObjectName(QStringLiteral("servicesPage"));
  pages.range = new CTimeRangeSelection(
      [&engine] {
        const std::shared_ptr<CCaptureSession> session = engine.Session();
        return CTimeRangeSelection::CNow{session->Id(), TimeBucket(session->Clock().Now())};
      },
      parent);
  hostStats->UseRange(*pages.range);
  pages.conversations->UseRange(*pages.range);
  pages.services->UseRange(*pages.range);
  pages.hostStatsSelected = [hostStats] { hostStats->RefreshNow(); };
  // The Processes view narrows the Conversations list by program; the list
  // offers the way back.
  CListSortProxy* conversations = pages.conversations->Rows()->Proxy();
  hostStats->SetProgramRule([conversations](const QString& name, bool only) {
    conversations->SetColumnRule(CConversationRow::kProcessColumn, name, only);
  });
  pages.conversations->Rows()->AddAction(QObject::tr("Show every program's conversations"),
                                         [conversations] { conversations->ClearColumnRule(); });
  auto job = std::make_shared<CHostStatsJob>(engine, *hostStats);
  pages.hostStatsJob = [job](const CHostStatsTick& tick) { job->Run(tick); };
  return pages;
}
