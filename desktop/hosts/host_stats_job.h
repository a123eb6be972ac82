#pragma once
#include "desktop/hosts/host_stats_update.h"
#include "desktop/window/refresh_worker.h"

class CAppState;
class CHostStatsPage;

// The refresh worker's Host Stats work. Under the traffic lock it ages and
// copies the host table, rebuilds the graph data and renders the live trace
// text (only when new packets arrived); then, with no lock held, it hands
// the values to the page with a queued call. It never touches a widget and
// never waits for the user-interface thread.
//
// Run is called on the worker thread; the page's flags it reads are atomics.
// The page must outlive the worker.
class CHostStatsJob {
 public:
  CHostStatsJob(CAppState& state, CHostStatsPage& page) : state_(state), page_(page) {}

  // Builds what `tick` asks for. Takes the traffic lock (and, through the
  // graph rebuild, the graph lock inside it).
  CHostStatsUpdate Build(const CHostStatsTick& tick);

  // Build, then a queued ApplyUpdate on the page.
  void Run(const CHostStatsTick& tick);
  void operator()(const CHostStatsTick& tick) { Run(tick); }

 private:
  CAppState& state_;
  CHostStatsPage& page_;
};
