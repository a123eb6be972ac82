#pragma once
#include <QWidget>
#include <optional>
#include <vector>

#include "services/service_key.h"
#include "services/service_row.h"

class CLatencyStrip;
class CTimeRangeSelection;
class CTrafficEngine;
class QLabel;
class QTableWidget;

// "Services": latency and traffic per service of the session shown, one
// sortable row each, and for the selected one its time to first answer over
// the last 200 seconds. Refreshed once a second while it is shown, from
// copies the engine hands out. User-interface thread.
class CServicesPage : public QWidget {
  Q_OBJECT

 public:
  CServicesPage(CTrafficEngine& engine, QWidget* parent = nullptr);

  void RefreshNow();

  // Shows only the exchanges inside the selected range of the graph, with
  // the range's bar above the table. Called once.
  void UseRange(CTimeRangeSelection& selection);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowStrip();
  std::optional<CServiceKey> SelectedKey() const;

  CTrafficEngine& engine_;
  CTimeRangeSelection* range_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* dropped_ = nullptr;
  CLatencyStrip* strip_ = nullptr;
  std::vector<CServiceRow> rows_;
};
