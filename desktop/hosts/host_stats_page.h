#pragma once
#include <atomic>
#include <cstdint>

#include "desktop/hosts/host_stats_update.h"
#include "desktop/common/split_page.h"

class CAppState;
class CGraphPanel;
class CHostListModel;
class CTextWindow;
class QCheckBox;
class QPushButton;
class QTabWidget;
class QTableView;

// The Host Stats page: the host list beside the "Graph" and "Packets"
// sub-pages. The refresh worker feeds it through CHostStatsJob; the page's
// own thread only merges what arrives.
//
// The functions marked "any thread" read atomics only; everything else runs
// on the user-interface thread. The page must outlive every job that refers
// to it (the main window stops its worker before the pages go).
class CHostStatsPage : public CSplitPage {
  Q_OBJECT

 public:
  CHostStatsPage(CAppState& state, QWidget* parent = nullptr);

  // Any thread.
  bool GraphShown() const { return graphShown_.load() != 0; }
  bool PacketsShown() const { return packetsShown_.load() != 0; }
  int ListRows() const { return listRows_.load(); }
  // Read and changed under the traffic lock only.
  uint64_t Generation() const { return generation_.load(); }

  // Merges the update into the page unless it is stale (taken before the
  // last Clear) or the page is paused.
  void ApplyUpdate(const CHostStatsUpdate& update);

  // Refreshes the host list at once, as when the page is selected. Takes
  // and releases the traffic lock; does nothing while paused.
  void RefreshNow();

  CHostListModel* HostModel() const { return model_; }
  QTableView* HostList() const { return list_; }
  CGraphPanel* GraphPanel() const { return graph_; }
  CTextWindow* TextPanel() const { return text_; }
  QTabWidget* SubPages() const { return tabs_; }
  QCheckBox* PauseBox() const { return pause_; }
  QPushButton* ClearButton() const { return clear_; }

 public slots:
  // Forgets all hosts and the recent packets; the graph keeps its history.
  void Clear();

 private:
  void OnPauseToggled(bool checked);
  void OnSubPageChanged(int index);
  void SetListRows();

  CAppState& state_;
  QPushButton* clear_;
  QCheckBox* pause_;
  QTableView* list_;
  CHostListModel* model_;
  QTabWidget* tabs_;
  CGraphPanel* graph_;
  CTextWindow* text_;
  int subPage_ = 0;
  std::atomic<int> graphShown_{1};
  std::atomic<int> packetsShown_{0};
  std::atomic<int> listRows_{0};
  std::atomic<uint64_t> generation_{0};
};
