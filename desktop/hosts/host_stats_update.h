#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "desktop/hosts/host_list_model.h"
#include "model/graph_series.h"

// What one refresh of the Host Stats page produced off the user-interface
// thread: plain values, handed over by a queued call.
struct CHostStatsUpdate {
  int sessionId = 0;
  // The session's host generation when the values were taken; an update
  // older than the page's last Clear is dropped.
  uint64_t generation = 0;
  bool haveHosts = false;
  std::vector<CHostRow> hosts;  // address order
  bool haveGraph = false;
  CGraphSeries graph;
  bool haveText = false;
  std::string text;         // the live trace text, CR LF line ends
  uint64_t textSeen = 0;    // the recorded-packet count the text shows
  bool haveProcesses = false;
  std::vector<CProcessSummary> processes;  // name order
};
