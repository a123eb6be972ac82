#pragma once
#include <QWidget>
#include <optional>

#include "services/service_key.h"

class CLatencyStrip;
class CReportList;
class CServiceListModel;
class CTimeRangeSelection;
class CTrafficEngine;
class QLabel;

// "Services": latency and traffic per service of the session shown, one
// row each in a list that sorts, filters and copies like the others, and
// for the selected one its time to first answer over the last 200 seconds.
// Refreshed once a second while it is shown, from copies the engine hands
// out. User-interface thread.
class CServicesPage : public QWidget {
  Q_OBJECT

 public:
  CServicesPage(CTrafficEngine& engine, QWidget* parent = nullptr);

  void RefreshNow();

  // Shows only the exchanges inside the selected range of the graph, with
  // the range's bar above the list. Called once.
  void UseRange(CTimeRangeSelection& selection);

  CServiceListModel* Model() const { return model_; }
  CReportList* Rows() const { return rows_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowStrip();
  std::optional<CServiceKey> SelectedKey() const;

  CTrafficEngine& engine_;
  CTimeRangeSelection* range_ = nullptr;
  CServiceListModel* model_ = nullptr;
  CReportList* rows_ = nullptr;
  QLabel* dropped_ = nullptr;
  CLatencyStrip* strip_ = nullptr;
};
