#pragma once
#include <functional>

#include "desktop/window/refresh_worker.h"

class CConversationsPage;
class CHostStatsPage;
class CServicesPage;
class CTimeRangeSelection;
class CTrafficEngine;
class QWidget;

// The pages that show the traffic model, as the main window hosts them:
// the widgets for the "Host Stats", "Conversations" and "Services" tabs, and the hooks
// through which the main window and its refresh worker drive Host Stats.
struct CTrafficPages {
  CHostStatsPage* hostStats = nullptr;
  CConversationsPage* conversations = nullptr;
  CServicesPage* services = nullptr;
  // The range of the graph that every page shows alone, while there is one.
  CTimeRangeSelection* range = nullptr;
  // User-interface thread, no lock held: the Host Stats tab was just
  // selected; refresh the host list at once.
  std::function<void()> hostStatsSelected;
  // The refresh worker's Host Stats job (see CRefreshWorker::SetHostStatsJob).
  std::function<void(const CHostStatsTick&)> hostStatsJob;
};

// Builds the pages as children of `parent` (the main window owns them).
// User-interface thread.
CTrafficPages CreateTrafficPages(CTrafficEngine& engine, QWidget* parent);
