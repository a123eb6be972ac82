// The Host Stats page and the refresh worker's job that feeds it: rows merge
// in place, a Clear drops what was taken before it, and a Pause at any
// moment loses nothing once it ends.
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <random>

#include "desktop/common/text_window.h"
#include "desktop/hosts/graph_ctrl.h"
#include "desktop/hosts/graph_panel.h"
#include "desktop/range/time_range_selection.h"
#include "desktop/hosts/host_list_model.h"
#include "desktop/hosts/host_stats_job.h"
#include "desktop/hosts/host_stats_page.h"
#include "output/value_format.h"
#include "tests/desktop/desktop_test_support.h"

namespace {

constexpr int32_t kNow = 1700000000;
int64_t FixedWall() { return kNow; }
CIpAddr Host(int i) { return CIpAddr(10, 0, uint8_t(i / 200), uint8_t(i % 200 + 1)); }

CHostStatsTick ListDue() {
  CHostStatsTick tick;
  tick.listDue = true;
  return tick;
}

}  // namespace

class HostStatsPageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CDesktopFixture> f_;
  std::unique_ptr<CHostStatsPage> page_;
  std::unique_ptr<CHostStatsJob> job_;

  CHostListModel* Model() { return page_->HostModel(); }
  QString Text() { return page_->TextPanel()->Text(); }
  void AddHost(const CIpAddr& a) { RecordPacket(f_->engine, EDirection::kReceived, a, 53, {kNow, 0}, 60); }
  void Refresh() { page_->ApplyUpdate(job_->Build(ListDue())); }
  QStringList Addresses() {
    QStringList shown;
    for (int r = 0; r < Model()->rowCount(); ++r) shown << QString::fromStdString(FormatAddress(Model()->Row(r).address));
    return shown;
  }

 private slots:
  void init() {
    f_ = std::make_unique<CDesktopFixture>(&FixedWall);
    page_ = std::make_unique<CHostStatsPage>(f_->engine);
    job_ = std::make_unique<CHostStatsJob>(f_->engine, *page_);
  }
  void cleanup() {
    job_.reset();
    page_.reset();
    f_.reset();
  }

  void mergeInPlaceKeepsTheSelection() {
    QAbstractItemModelTester tester(Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(Model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(Model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changes(Model(), &QAbstractItemModel::dataChanged);
    for (const CIpAddr& a : {CIpAddr(10, 0, 0, 3), CIpAddr(9, 9, 9, 9), CIpAddr(10, 0, 0, 1)}) AddHost(a);
    Refresh();
    QCOMPARE(inserts.count(), 1);  // one batch
    page_->HostList()->selectRow(2);
    AddHost(CIpAddr(10, 0, 0, 2));
    AddHost(CIpAddr(10, 0, 0, 3));  // its counters change
    Refresh();
    QCOMPARE(Addresses(), (QStringList{"9.9.9.9", "10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    QCOMPARE(inserts.count(), 2);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(resets.count(), 0);
    const QModelIndexList selected = page_->HostList()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected[0].row(), 3);
    Refresh();  // nothing new: no signal at all
    QCOMPARE(changes.count() + inserts.count(), 3);
  }

  // Random successions of host sets: after every merge the rows equal the
  // set, and a persistent index follows its host wherever it moves.
  void mergeFollowsAnySuccessionOfHostSets() {
    CHostListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
      std::vector<CHostRow> hosts;
      for (int i = 0; i < 40; ++i) {
        if (random() % 3 == 0) continue;
        CHostRow host;
        host.address = Host(i);
        host.bytesSent = random() % 4;
        hosts.push_back(host);
      }
      QPersistentModelIndex watched;
      CIpAddr watchedAddress;
      if (model.rowCount() > 0) {
        watched = model.index(int(random() % unsigned(model.rowCount())), 0);
        watchedAddress = model.Row(watched.row()).address;
      }
      model.Merge(hosts);
      QCOMPARE(model.rowCount(), int(hosts.size()));
      for (int r = 0; r < model.rowCount(); ++r) QVERIFY(model.Row(r) == hosts[std::size_t(r)]);
      if (watched.isValid()) QVERIFY(model.Row(watched.row()).address == watchedAddress);
    }
  }

  void clearDropsWhatWasTakenBeforeIt() {
    AddHost(CIpAddr(10, 0, 0, 1));
    Refresh();
    page_->TextPanel()->SetText(QStringLiteral("old"));
    const CHostStatsUpdate stale = job_->Build(ListDue());
    page_->ClearButton()->click();
    QCOMPARE(Model()->rowCount(), 0);
    QVERIFY(Text().isEmpty());
    QVERIFY(f_->engine.Session()->Hosts(false).hosts.empty());
    page_->ApplyUpdate(stale);
    QCOMPARE(Model()->rowCount(), 0);
    AddHost(CIpAddr(10, 0, 0, 2));
    Refresh();
    QCOMPARE(Addresses(), QStringList{"10.0.0.2"});
  }

  void dragAcrossTheGraphShowsOnlyItsRangeUntilAClick() {
    CTimeRangeSelection range([this] {
      return CTimeRangeSelection::CNow{f_->engine.Session()->Id(), TimeBucket(kNow)};
    });
    page_->UseRange(range);
    RecordPacket(f_->engine, EDirection::kReceived, Host(1), 53, {kNow - 100, 0}, 60);
    AddHost(Host(2));
    Refresh();
    QCOMPARE(Addresses().size(), 2);
    CGraphCtrl* graph = page_->GraphPanel()->Graph();
    graph->resize(400, 100);
    // The two newest intervals: slots 38 and 39 of 40, 10 pixels each.
    QTest::mousePress(graph, Qt::LeftButton, {}, QPoint(385, 50));
    QTest::mouseRelease(graph, Qt::LeftButton, {}, QPoint(399, 50));
    QCOMPARE(range.Range(), (CTimeRange{TimeBucket(kNow) - 1, TimeBucket(kNow) + 1}));
    Refresh();
    QCOMPARE(Addresses(), QStringList{QString::fromStdString(FormatAddress(Host(2)))});
    QVERIFY(page_->findChild<QLabel*>(QStringLiteral("rangeBar"))->text().startsWith(
        QStringLiteral("Showing ") + CTimeRangeSelection::Text(*range.Range())));
    QTest::mouseClick(graph, Qt::LeftButton, {}, QPoint(200, 50));
    QVERIFY(!range.Range());
    Refresh();
    QCOMPARE(Addresses().size(), 2);
  }

  void jobBuildsWhatTheShownSubPageNeeds() {
    AddHost(CIpAddr(10, 0, 0, 1));
    CHostStatsUpdate u = job_->Build(ListDue());  // the Graph sub-page
    QVERIFY(u.haveHosts && u.haveGraph && !u.haveText);
    QVERIFY(!u.graph.received.empty());
    page_->SubPages()->setCurrentIndex(1);
    u = job_->Build(ListDue());
    QVERIFY(!u.haveGraph && u.haveText);
    page_->ApplyUpdate(u);
    QVERIFY(Text().contains(QStringLiteral("10.0.0.1:53")));
    QVERIFY(!job_->Build(ListDue()).haveText);  // nothing new since the text shown
    CHostStatsTick first;
    first.firstGraph = true;
    u = job_->Build(first);
    QVERIFY(u.haveGraph && !u.haveHosts && !u.haveText);
    // Run hands its values over through the event loop.
    AddHost(CIpAddr(10, 0, 0, 2));
    job_->Run(ListDue());
    QCOMPARE(Model()->rowCount(), 1);
    QTRY_COMPARE(Model()->rowCount(), 2);
  }

  // The worst moment for a Pause: after the worker took its values, before
  // the page merged them. The update is dropped; once the Pause ends the
  // list is current at once and the live text at the worker's next turn.
  void pauseBetweenWorkerAndPageLosesNothing() {
    page_->SubPages()->setCurrentIndex(1);
    AddHost(CIpAddr(10, 0, 0, 1));
    Refresh();
    AddHost(CIpAddr(10, 0, 0, 2));
    const CHostStatsUpdate taken = job_->Build(ListDue());
    QVERIFY(taken.haveText);
    page_->PauseBox()->click();
    page_->ApplyUpdate(taken);
    job_->Run(ListDue());
    QCoreApplication::processEvents();
    QCOMPARE(Addresses(), QStringList{"10.0.0.1"});
    QVERIFY(!Text().contains(QStringLiteral("10.0.0.2:53")));
    page_->PauseBox()->click();
    QCOMPARE(Addresses(), (QStringList{"10.0.0.1", "10.0.0.2"}));
    job_->Run(ListDue());
    QTRY_VERIFY(Text().contains(QStringLiteral("10.0.0.2:53")));
  }
};

QTEST_MAIN(HostStatsPageTest)
#include "host_stats_page_qtest.moc"
