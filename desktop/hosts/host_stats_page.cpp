#include "desktop/hosts/host_stats_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <ctime>
#include <mutex>

#include "engine/app_state.h"
#include "model/traffic_model.h"
#include "desktop/common/column_fit.h"
#include "desktop/hosts/graph_panel.h"
#include "desktop/hosts/host_list_model.h"
#include "desktop/common/report_list_view.h"
#include "desktop/common/text_window.h"

CHostStatsPage::CHostStatsPage(CAppState& state, QWidget* parent)
    : CSplitPage(parent), state_(state) {
  auto* bar = new QWidget(this);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(7, 7, 7, 0);
  clear_ = new QPushButton(tr("&Clear"), bar);
  pause_ = new QCheckBox(tr("Pause"), bar);
  row->addWidget(clear_);
  row->addSpacing(12);
  row->addWidget(pause_);
  row->addStretch(1);
  SetTopBar(bar);

  model_ = new CHostListModel(this);
  list_ = new QTableView(this);
  list_->setModel(model_);
  SetUpReportList(*list_);
  FitColumns(*list_, CHostListModel::kColumnWidths, CHostListModel::ColumnSamples(), 0);

  tabs_ = new QTabWidget(this);
  graph_ = new CGraphPanel(state, tabs_);
  text_ = new CTextWindow(tabs_);
  tabs_->addTab(graph_, tr("Graph"));
  tabs_->addTab(text_, tr("Packets"));

  const int marginY = TopBarBottom() + 3;
  SetUpSplit({list_, 50, 50, 0, marginY, false}, {tabs_, 50, 50, 0, marginY, false}, 80);

  connect(clear_, &QPushButton::clicked, this, &CHostStatsPage::Clear);
  connect(pause_, &QCheckBox::toggled, this, &CHostStatsPage::OnPauseToggled);
  connect(tabs_, &QTabWidget::currentChanged, this, &CHostStatsPage::OnSubPageChanged);
}

void CHostStatsPage::ApplyUpdate(const CHostStatsUpdate& update) {
  if (update.generation != generation_.load() || state_.pause.load() != 0) return;
  if (update.haveHosts) {
    model_->Merge(update.hosts);
    SetListRows();
  }
  if (update.graphRebuilt) graph_->Repaint();
  if (update.haveText) {
    text_->SetText(QString::fromLatin1(update.text.data(), static_cast<qsizetype>(update.text.size())));
  }
}

void CHostStatsPage::RefreshNow() {
  if (state_.pause.load() != 0) return;
  CHostStatsUpdate update;
  {
    std::lock_guard<std::mutex> traffic(state_.trafficLock);
    update.generation = generation_.load();
    update.hosts = CHostListModel::AgeAndCollect(state_.Model().hosts, ListRows(),
                                                 static_cast<int64_t>(std::time(nullptr)),
                                                 state_.quit);
    update.haveHosts = !state_.Quitting();
  }
  ApplyUpdate(update);
}

void CHostStatsPage::Clear() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  {
    std::lock_guard<std::mutex> traffic(state_.trafficLock);
    std::lock_guard<std::mutex> graph(state_.graphLock);
    state_.Model().hosts.Clear();
    state_.Model().ClearRecent();
    // Whatever a refresh took before this point must not bring the
    // forgotten hosts back.
    generation_.fetch_add(1);
  }
  model_->Clear();
  SetListRows();
  text_->Clear();
  QApplication::restoreOverrideCursor();
}

void CHostStatsPage::OnPauseToggled(bool checked) { state_.pause.store(checked ? 1 : 0); }

void CHostStatsPage::OnSubPageChanged(int index) {
  if (index == subPage_ || index < 0) return;
  subPage_ = index;
  graphShown_.store(index == 0 ? 1 : 0);
  packetsShown_.store(index == 1 ? 1 : 0);
  list_->setFocus();
}

void CHostStatsPage::SetListRows() { listRows_.store(model_->rowCount()); }
