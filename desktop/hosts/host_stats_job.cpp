#include "desktop/hosts/host_stats_job.h"

#include <QMetaObject>
#include <mutex>
#include <utility>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "output/conversation_text.h"
#include "desktop/hosts/host_stats_page.h"

CHostStatsUpdate CHostStatsJob::Build(const CHostStatsTick& tick) {
  CHostStatsUpdate update;
  CTrafficModel& model = state_.Model();
  std::lock_guard<std::mutex> traffic(state_.trafficLock);
  update.generation = page_.Generation();
  if (tick.listDue) {
    update.hosts = CHostListModel::AgeAndCollect(model.hosts, page_.ListRows(), tick.now, state_.quit);
    // A copy cut short by the quit flag would read as hosts gone.
    update.haveHosts = !state_.Quitting();
  }
  if ((tick.listDue && page_.GraphShown()) || tick.firstGraph) {
    state_.graphSampleTime.store(tick.now);
    model.RebuildGraph();
    update.graphRebuilt = true;
  }
  if (tick.listDue && page_.PacketsShown() && model.newData != 0) {
    update.text = RenderRecentPackets(model.recent, state_.quit);
    update.haveText = true;
    model.newData = 0;
  }
  return update;
}

void CHostStatsJob::Run(const CHostStatsTick& tick) {
  if (state_.Quitting()) return;
  CHostStatsUpdate update = Build(tick);
  CHostStatsPage* page = &page_;
  // The posted call dies with the page if the page goes first.
  QMetaObject::invokeMethod(
      page, [page, update = std::move(update)]() { page->ApplyUpdate(update); },
      Qt::QueuedConnection);
}
