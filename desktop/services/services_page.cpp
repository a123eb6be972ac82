#include "desktop/services/services_page.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "desktop/range/range_bar.h"
#include "desktop/range/time_range_selection.h"
#include "desktop/services/latency_strip.h"
#include "engine/traffic_engine.h"
#include "output/value_format.h"
#include "model/bucket_ring.h"

namespace {

constexpr int kRowIndexRole = Qt::UserRole;
constexpr int kSortRole = Qt::UserRole + 1;

// Sorts by the number behind the text, not by the text.
class CNumberItem : public QTableWidgetItem {
 public:
  CNumberItem(const QString& text, double value) : QTableWidgetItem(text) {
    setData(kSortRole, value);
    setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  bool operator<(const QTableWidgetItem& other) const override {
    return data(kSortRole).toDouble() < other.data(kSortRole).toDouble();
  }
};

QString ServiceText(const CServiceKey& key) {
  const QString proto = key.protocol == 6    ? QStringLiteral("TCP")
                        : key.protocol == 17 ? QStringLiteral("UDP")
                                             : QString::number(key.protocol);
  const QString end = QString::fromStdString(FormatEndpoint(key.address, key.port));
  return key.role == EHostRole::kServer ? proto + QStringLiteral(" ") + end + QStringLiteral(" (served here)")
                                        : proto + QStringLiteral(" ") + end;
}

QTableWidgetItem* Seconds(const std::optional<CLatencySummary>& s, double CLatencySummary::*pick) {
  if (!s) return new CNumberItem(QString(), -1);
  const double v = (*s).*pick;
  return new CNumberItem(QString::number(v, 'f', 6), v);
}

QTableWidgetItem* Count(uint64_t n) {
  return new CNumberItem(QString::number(n), static_cast<double>(n));
}

}  // namespace

CServicesPage::CServicesPage(CTrafficEngine& engine, QWidget* parent)
    : QWidget(parent), engine_(engine) {
  // The page reads what the sessions hand over only while it exists.
  engine_.Services().SetEnabled(true);
  table_ = new QTableWidget(this);
  table_->setObjectName(QStringLiteral("services"));
  const QStringList headers = {QStringLiteral("Service"),    QStringLiteral("Name"),
                               QStringLiteral("Exchanges"),
                               QStringLiteral("Unanswered"), QStringLiteral("TTFA p50"),
                               QStringLiteral("TTFA p90"),   QStringLiteral("TTFA p99"),
                               QStringLiteral("TTFA Max"),   QStringLiteral("Bytes Sent"),
                               QStringLiteral("Bytes Rcvd")};
  table_->setColumnCount(static_cast<int>(headers.size()));
  table_->setHorizontalHeaderLabels(headers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  table_->setWordWrap(false);
  table_->setSortingEnabled(true);
  table_->sortByColumn(2, Qt::DescendingOrder);
  table_->setToolTip(QStringLiteral(
      "TTFA: time to first answer, from the end of the opening direction to the start of the reply, "
      "in seconds"));
  dropped_ = new QLabel(this);
  dropped_->hide();
  strip_ = new CLatencyStrip(this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addWidget(dropped_);
  layout->addWidget(strip_);

  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { ShowStrip(); });
  auto* tick = new QTimer(this);
  connect(tick, &QTimer::timeout, this, [this] {
    if (isVisible()) RefreshNow();
  });
  tick->start(1000);
}

void CServicesPage::UseRange(CTimeRangeSelection& selection) {
  range_ = &selection;
  auto* bar = new CRangeBar(selection, QStringLiteral("times in a range from 5-second buckets, within about 10%"),
                            this);
  static_cast<QVBoxLayout*>(layout())->insertWidget(0, bar);
  connect(&selection, &CTimeRangeSelection::Changed, this, &CServicesPage::RefreshNow);
}

void CServicesPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshNow();
}

std::optional<CServiceKey> CServicesPage::SelectedKey() const {
  const QList<QTableWidgetItem*> selected = table_->selectedItems();
  if (selected.isEmpty()) return std::nullopt;
  const int index = table_->item(selected.front()->row(), 0)->data(kRowIndexRole).toInt();
  if (index < 0 || static_cast<std::size_t>(index) >= rows_.size()) return std::nullopt;
  return rows_[static_cast<std::size_t>(index)].key;
}

void CServicesPage::RefreshNow() {
  const std::optional<CServiceKey> keep = SelectedKey();
  const std::optional<CTimeRange> range = range_ != nullptr ? range_->Range() : std::nullopt;
  rows_ = range ? engine_.Services().RangeRows(*range, TimeBucket(engine_.Session()->Clock().Now()))
                : engine_.Services().Rows();
  const QSignalBlocker quiet(table_);
  table_->setSortingEnabled(false);
  table_->clearContents();
  table_->setRowCount(static_cast<int>(rows_.size()));
  int reselect = -1;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const CServiceRow& r = rows_[i];
    const int row = static_cast<int>(i);
    auto* name = new QTableWidgetItem(ServiceText(r.key));
    name->setData(kRowIndexRole, row);
    table_->setItem(row, 0, name);
    // A service this host serves is named by the clients, not by it.
    const bool named = r.key.role == EHostRole::kClient;
    table_->setItem(row, 1, new QTableWidgetItem(
                                named ? QString::fromStdString(engine_.Names().NameOf(r.key.address)) : QString()));
    table_->setItem(row, 2, Count(r.exchanges));
    table_->setItem(row, 3, Count(r.unanswered));
    table_->setItem(row, 4, Seconds(r.firstAnswer, &CLatencySummary::p50));
    table_->setItem(row, 5, Seconds(r.firstAnswer, &CLatencySummary::p90));
    table_->setItem(row, 6, Seconds(r.firstAnswer, &CLatencySummary::p99));
    table_->setItem(row, 7, Seconds(r.firstAnswer, &CLatencySummary::max));
    table_->setItem(row, 8, Count(r.bytesSent));
    table_->setItem(row, 9, Count(r.bytesReceived));
    if (keep && r.key == *keep) reselect = row;
  }
  table_->setSortingEnabled(true);
  if (reselect >= 0) {
    for (int row = 0; row < table_->rowCount(); ++row) {
      if (table_->item(row, 0)->data(kRowIndexRole).toInt() == reselect) table_->selectRow(row);
    }
  }
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
