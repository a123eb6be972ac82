#pragma once
#include "desktop/hosts/host_stats_update.h"
#include "desktop/window/refresh_worker.h"

class CHostStatsPage;
class CTrafficEngine;

// The refresh worker's Host Stats work. It asks the engine's session for the
// host list (ageing it first), the graph series and, when packets arrived
// since the page last showed the live text, that text; then, with no lock
// held, it hands the values to the page with a queued call. It never
// touches a widget and never waits for the user-interface thread.
//
// Run is called on the worker thread; the page's flags it reads are atomics.
// The page and the engine must outlive the worker.
class CHostStatsJob {
 public:
  CHostStatsJob(CTrafficEngine& engine, CHostStatsPage& page) : engine_(engine), page_(page) {}

  // Builds what `tick` asks for.
  CHostStatsUpdate Build(const CHostStatsTick& tick);

  // Build, then a queued ApplyUpdate on the page.
  void Run(const CHostStatsTick& tick);

 private:
  CTrafficEngine& engine_;
  CHostStatsPage& page_;
};
