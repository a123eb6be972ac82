#include "desktop/hosts/host_stats_job.h"

#include <QMetaObject>
#include <utility>

#include "desktop/hosts/host_stats_page.h"
#include "engine/traffic_engine.h"

CHostStatsUpdate CHostStatsJob::Build(const CHostStatsTick& tick) {
  CHostStatsUpdate update;
  const std::shared_ptr<CCaptureSession> session = engine_.Session();
  update.sessionId = session->Id();
  if (tick.listDue) {
    CHostsView view = session->Hosts(true, page_.Range());
    update.generation = view.generation;
    update.hosts = std::move(view.hosts);
    // A copy cut short by closing down would read as hosts gone.
    update.haveHosts = !session->Cancel().Cancelled();
  }
  if ((tick.listDue && page_.GraphShown()) || tick.firstGraph) {
    update.graph = session->Graph();
    update.haveGraph = true;
  }
  if (tick.listDue && page_.ProcessesShown()) {
    update.processes = session->Processes(page_.Range());
    update.haveProcesses = !session->Cancel().Cancelled();
  }
  if (tick.listDue && page_.PacketsShown()) {
    // Renders only when packets arrived since the text the page shows; a
    // text the page dropped (paused) is built again next time.
    update.textSeen = page_.TextSeen(session->Id());
    update.haveText = session->RecentPacketsText(update.textSeen, update.text);
  }
  return update;
}

void CHostStatsJob::Run(const CHostStatsTick& tick) {
  if (engine_.Cancel().Cancelled() || page_.Paused()) return;
  CHostStatsUpdate update = Build(tick);
  CHostStatsPage* page = &page_;
  // The posted call dies with the page if the page goes first.
  QMetaObject::invokeMethod(
      page, [page, update = std::move(update)]() { page->ApplyUpdate(update); },
      Qt::QueuedConnection);
}
