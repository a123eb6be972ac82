#include "desktop/services/services_page.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <vector>

#include "desktop/common/report_list.h"
#include "desktop/range/range_bar.h"
#include "desktop/range/time_range_selection.h"
#include "desktop/services/latency_strip.h"
#include "desktop/services/service_list_model.h"
#include "engine/traffic_engine.h"
#include "model/bucket_ring.h"

CServicesPage::CServicesPage(CTrafficEngine& engine, QWidget* parent)
    : QWidget(parent), engine_(engine) {
  // The page reads what the sessions hand over only while it exists.
  engine_.Services().SetEnabled(true);
  model_ = new CServiceListModel(this);
  rows_ = new CReportList(model_, this);
  QTableView* view = rows_->View();
  view->setObjectName(QStringLiteral("services"));
  view->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  view->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  view->horizontalHeader()->setStretchLastSection(true);
  // The busiest service first, until the user sorts otherwise.
  view->sortByColumn(2, Qt::DescendingOrder);
  dropped_ = new QLabel(this);
  dropped_->hide();
  strip_ = new CLatencyStrip(this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(rows_, 1);
  layout->addWidget(dropped_);
  layout->addWidget(strip_);

  connect(rows_, &CReportList::SelectionChanged, this, [this] { ShowStrip(); });
  auto* tick = new QTimer(this);
  connect(tick, &QTimer::timeout, this, [this] {
    if (isVisible()) RefreshNow();
  });
  tick->start(1000);
}

void CServicesPage::UseRange(CTimeRangeSelection& selection) {
  range_ = &selection;
  rows_->AddBar(new CRangeBar(selection, QStringLiteral("times in a range from 5-second buckets, within about 10%")));
  connect(&selection, &CTimeRangeSelection::Changed, this, &CServicesPage::RefreshNow);
}

void CServicesPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshNow();
}

std::optional<CServiceKey> CServicesPage::SelectedKey() const {
  const int row = rows_->CurrentRow();
  if (row < 0) return std::nullopt;
  return model_->Row(row).figures.key;
}

void CServicesPage::RefreshNow() {
  const std::optional<CTimeRange> range = range_ != nullptr ? range_->Range() : std::nullopt;
  const int64_t now = TimeBucket(engine_.Session()->Clock().Now());
  const std::vector<CServiceRow> figures =
      range ? engine_.Services().RangeRows(*range, now) : engine_.Services().Rows();
  std::vector<CServiceListRow> rows;
  rows.reserve(figures.size());
  for (const CServiceRow& r : figures) {
    // A service this host serves is named by its clients, not by it.
    const bool named = r.key.role == EHostRole::kClient;
    rows.push_back({r, named ? QString::fromStdString(engine_.Names().NameOf(r.key.address)) : QString()});
  }
  model_->Merge(rows);
  const uint64_t dropped = engine_.Services().Dropped();
  dropped_->setVisible(dropped > 0);
  dropped_->setText(QStringLiteral("%1 services not shown").arg(dropped));
  ShowStrip();
}

void CServicesPage::ShowStrip() {
  const std::optional<CServiceKey> key = SelectedKey();
  if (!key) {
    strip_->SetPoints({});
    return;
  }
  const int64_t now = TimeBucket(engine_.Session()->Clock().Now());
  strip_->SetPoints(engine_.Services().LatencyStrip(*key, now));
}
