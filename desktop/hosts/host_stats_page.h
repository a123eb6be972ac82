#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "desktop/hosts/host_stats_update.h"
#include "desktop/common/split_page.h"
#include "model/time_range.h"

class CGraphPanel;
class CProcessListModel;
class CTrafficEngine;
class CHostListModel;
class CTimeRangeSelection;

class CReportList;
class CTextWindow;
class QCheckBox;
class QPushButton;
class QTabWidget;
class QTableView;

// The Host Stats page: the host list beside the "Graph", "Packets" and
// "Processes" sub-pages. The refresh worker feeds it through CHostStatsJob; the page's
// own thread only merges what arrives, and drops what belongs to another
// session or came before its last Clear.
//
// The functions marked "any thread" read atomics only; everything else runs
// on the user-interface thread. The page must outlive every job that refers
// to it (the main window stops its worker before the pages go).
class CHostStatsPage : public CSplitPage {
  Q_OBJECT

 public:
  CHostStatsPage(CTrafficEngine& engine, QWidget* parent = nullptr);

  // Any thread.
  bool GraphShown() const { return graphShown_.load(); }
  bool PacketsShown() const { return packetsShown_.load(); }
  bool ProcessesShown() const { return processesShown_.load(); }
  bool Paused() const { return paused_.load(); }
  // The recorded-packet count of the live text shown, for session
  // `sessionId`; 0 when it shows another session's or none.
  uint64_t TextSeen(int sessionId) const;

  // Merges the update into the page unless it is stale (another session's,
  // or taken before the last Clear) or the page is paused.
  void ApplyUpdate(const CHostStatsUpdate& update);

  // Refreshes the host list at once, as when the page is selected; does
  // nothing while paused.
  void RefreshNow();

  // Shows only the traffic inside the selected range of the graph, with the
  // range's bar above the list; the graph sets the range. Called once,
  // before the refresh worker runs.
  void UseRange(CTimeRangeSelection& selection);
  // Any thread: the range the list shows, if any.
  std::optional<CTimeRange> Range() const;

  // Called with the address of the host the user chose "Filter on this
  // host..." for.
  void SetFilterOnHost(std::function<void(const CIpAddr&)> hook);
  // Called with a program's name when the user chose to see only its
  // conversations (`only`) or to hide them.
  void SetProgramRule(std::function<void(const QString& name, bool only)> hook);

  CHostListModel* HostModel() const { return model_; }
  QTableView* HostList() const { return list_; }
  CReportList* Rows() const { return rows_; }
  CGraphPanel* GraphPanel() const { return graph_; }
  CTextWindow* TextPanel() const { return text_; }
  CReportList* ProcessRows() const { return processRows_; }
  QTabWidget* SubPages() const { return tabs_; }
  QCheckBox* PauseBox() const { return pause_; }
  QPushButton* ClearButton() const { return clear_; }

 public slots:
  // Forgets all hosts and the recent packets; the graph keeps its history.
  void Clear();

 private:
  void OnPauseToggled(bool checked);
  void OnSubPageChanged(int index);
  void ProgramRule(bool only);

  CTrafficEngine& engine_;
  CTimeRangeSelection* range_ = nullptr;
  QPushButton* clear_;
  QCheckBox* pause_;
  CReportList* rows_;
  QTableView* list_;
  CHostListModel* model_;
  QTabWidget* tabs_;
  CGraphPanel* graph_;
  CTextWindow* text_;
  CProcessListModel* processes_;
  CReportList* processRows_;
  int subPage_ = 0;
  int generationSession_ = 0;  // the session of generation_
  uint64_t generation_ = 0;    // the host generation of the last Clear
  std::atomic<bool> graphShown_{true};
  std::atomic<bool> packetsShown_{false};
  std::atomic<bool> processesShown_{false};
  std::atomic<bool> paused_{false};
  std::atomic<int> textSession_{0};
  std::atomic<uint64_t> textSeen_{0};
  std::function<void(const CIpAddr&)> filterOnHost_;
  std::function<void(const QString&, bool)> programRule_;
};
