#include "desktop/hosts/host_stats_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <string>

#include "engine/traffic_engine.h"
#include "desktop/common/column_fit.h"
#include "desktop/hosts/graph_panel.h"
#include "desktop/hosts/host_list_model.h"
#include "desktop/processes/process_list_model.h"
#include "desktop/common/report_list.h"
#include "output/value_format.h"
#include "desktop/common/text_window.h"
#include "desktop/hosts/graph_ctrl.h"
#include "desktop/range/range_bar.h"
#include "desktop/range/time_range_selection.h"

CHostStatsPage::CHostStatsPage(CTrafficEngine& engine, QWidget* parent)
    : CSplitPage(parent), engine_(engine) {
  auto* bar = new QWidget(this);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(7, 7, 7, 0);
  clear_ = new QPushButton(tr("&Clear"), bar);
  pause_ = new QCheckBox(tr("Pause"), bar);
  pause_->setToolTip(tr("Freeze the list, the graph and the packets; the trace goes on counting"));
  row->addWidget(clear_);
  row->addSpacing(12);
  row->addWidget(pause_);
  row->addStretch(1);
  SetTopBar(bar);

  model_ = new CHostListModel(this);
  rows_ = new CReportList(model_, this);
  list_ = rows_->View();
  FitColumns(*list_, CHostListModel::kColumnWidths, CHostListModel::ColumnSamples(), 0);

  tabs_ = new QTabWidget(this);
  graph_ = new CGraphPanel(tabs_);
  text_ = new CTextWindow(tabs_);
  tabs_->addTab(graph_, tr("Graph"));
  tabs_->addTab(text_, tr("Packets"));
  processes_ = new CProcessListModel(this);
  processRows_ = new CReportList(processes_, tabs_, tr("Find pro&gram:"));
  tabs_->addTab(processRows_, tr("Processes"));
  processRows_->AddAction(tr("Show only this program's conversations"), [this] { ProgramRule(true); });
  processRows_->AddAction(tr("Hide this program's conversations"), [this] { ProgramRule(false); });

  const int marginY = TopBarBottom() + 3;
  // The graph gets a fair share of the page: 40 percent of its width.
  SetUpSplit({rows_, 50, 50, 0, marginY, false}, {tabs_, 50, 50, 0, marginY, false}, 60);
  rows_->AddAction(tr("Copy address"), [this] {
    const int row = rows_->CurrentRow();
    if (row >= 0) QApplication::clipboard()->setText(QString::fromStdString(FormatAddress(model_->Row(row).address)));
  });
  rows_->AddAction(tr("Filter on this host..."), [this] {
    const int row = rows_->CurrentRow();
    if (row >= 0 && filterOnHost_) filterOnHost_(model_->Row(row).address);
  });

  connect(clear_, &QPushButton::clicked, this, &CHostStatsPage::Clear);
  connect(pause_, &QCheckBox::toggled, this, &CHostStatsPage::OnPauseToggled);
  connect(tabs_, &QTabWidget::currentChanged, this, &CHostStatsPage::OnSubPageChanged);
}

void CHostStatsPage::UseRange(CTimeRangeSelection& selection) {
  range_ = &selection;
  rows_->AddBar(new CRangeBar(selection, QString()));
  processRows_->AddBar(new CRangeBar(selection, QString()));
  graph_->Graph()->SetSelection(&selection);
  connect(&selection, &CTimeRangeSelection::Changed, this, &CHostStatsPage::RefreshNow);
}

std::optional<CTimeRange> CHostStatsPage::Range() const {
  return range_ != nullptr ? range_->Range() : std::nullopt;
}

void CHostStatsPage::ProgramRule(bool only) {
  const int row = processRows_->CurrentRow();
  if (row >= 0 && programRule_) programRule_(QString::fromStdString(processes_->Row(row).name), only);
}

void CHostStatsPage::SetProgramRule(std::function<void(const QString&, bool)> hook) {
  programRule_ = std::move(hook);
}

void CHostStatsPage::SetFilterOnHost(std::function<void(const CIpAddr&)> hook) {
  filterOnHost_ = std::move(hook);
}

uint64_t CHostStatsPage::TextSeen(int sessionId) const {
  return textSession_.load() == sessionId ? textSeen_.load() : 0;
}

void CHostStatsPage::ApplyUpdate(const CHostStatsUpdate& update) {
  if (Paused() || update.sessionId != engine_.Session()->Id()) return;
  const bool beforeClear = update.sessionId == generationSession_ && update.generation < generation_;
  if (update.haveHosts && !beforeClear) {
    model_->Merge(update.hosts);
    // Only an IPv6 address can outgrow the column's IPv4 sample; the
    // longest text stands for the widest.
    std::string longest;
    for (const CHostSummary& h : update.hosts) {
      if (!h.address.IsV6()) continue;
      std::string text = FormatAddress(h.address);
      if (text.size() > longest.size()) longest = std::move(text);
    }
    WidenColumnToFit(*list_, 0, QString::fromStdString(longest), true);
  }
  if (update.haveGraph) graph_->SetSeries(update.graph);
  if (update.haveProcesses) processes_->Merge(update.processes);
  if (update.haveText) {
    text_->SetText(QString::fromLatin1(update.text.data(), static_cast<qsizetype>(update.text.size())));
    textSession_.store(update.sessionId);
    textSeen_.store(update.textSeen);
  }
}

void CHostStatsPage::RefreshNow() {
  if (Paused()) return;
  const std::shared_ptr<CCaptureSession> session = engine_.Session();
  CHostStatsUpdate update;
  update.sessionId = session->Id();
  CHostsView view = session->Hosts(true, Range());
  update.generation = view.generation;
  update.hosts = std::move(view.hosts);
  update.haveHosts = true;
  if (ProcessesShown()) {
    update.processes = session->Processes(Range());
    update.haveProcesses = true;
  }
  ApplyUpdate(update);
}

void CHostStatsPage::Clear() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::shared_ptr<CCaptureSession> session = engine_.Session();
  // Whatever a refresh took before this point must not bring the forgotten
  // hosts back.
  generation_ = session->ClearHosts();
  generationSession_ = session->Id();
  model_->Clear();
  text_->Clear();
  processes_->Clear();
  QApplication::restoreOverrideCursor();
}

void CHostStatsPage::OnPauseToggled(bool checked) {
  paused_.store(checked);
  // Whatever was dropped while paused is brought up to date at once.
  if (!checked) RefreshNow();
}

void CHostStatsPage::OnSubPageChanged(int index) {
  if (index == subPage_ || index < 0) return;
  subPage_ = index;
  graphShown_.store(index == 0);
  packetsShown_.store(index == 1);
  processesShown_.store(index == 2);
  if (index == 2) RefreshNow();
  list_->setFocus();
}
