// The Host Stats page and the refresh worker's job that feeds it.
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <ctime>
#include <memory>
#include <random>

#include "tests/desktop/ui_test_support.h"
#include "desktop/hosts/host_list_model.h"
#include "desktop/hosts/host_stats_job.h"
#include "desktop/hosts/host_stats_page.h"
#include "desktop/common/text_window.h"

namespace {

constexpr int32_t kNow = 1700000000;

CIpAddr Host(int i) { return CIpAddr(10, 0, uint8_t(i / 200), uint8_t(i % 200 + 1)); }

}  // namespace

class HostStatsPageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CAppState> state_;
  std::unique_ptr<CHostStatsPage> page_;
  std::unique_ptr<CHostStatsJob> job_;

  CHostListModel* Model() { return page_->HostModel(); }

  void AddHost(const CIpAddr& a, int32_t sec, int payload = 60) {
    RecordPacket(*state_, UdpFields(kDirReceived, payload, CTimeStamp{sec, 0}, a));
  }

  static CHostStatsTick Tick(int64_t now = kNow) {
    CHostStatsTick tick;
    tick.listDue = true;
    tick.now = now;
    return tick;
  }
  void Refresh() { page_->ApplyUpdate(job_->Build(Tick())); }
  QString Cell(int row, int column) { return Model()->data(Model()->index(row, column)).toString(); }

  std::size_t TableSize() {
    std::lock_guard<std::mutex> traffic(state_->trafficLock);
    return state_->Model().hosts.Size();
  }

 private slots:
  void init() {
    state_ = std::make_unique<CAppState>();
    page_ = std::make_unique<CHostStatsPage>(*state_);
    page_->resize(700, 400);
    job_ = std::make_unique<CHostStatsJob>(*state_, *page_);
  }
  void cleanup() {
    job_.reset();
    page_.reset();
    state_.reset();
  }

  void cellTexts() {
    AddHost(CIpAddr(192, 168, 1, 1), kNow, 1000);
    RecordPacket(*state_, UdpFields(kDirSent, 200000, CTimeStamp{kNow, 5}, CIpAddr(192, 168, 1, 1)));
    Refresh();
    const QStringList expected = {"192.168.1.1", "195 KB", "1028", "1"};
    for (int c = 0; c < 4; ++c) QCOMPARE(Cell(0, c), expected[c]);
    QCOMPARE(Cell(0, 5), QStringLiteral("22:13:20.000005"));
  }

  void mergeInsertsInPlaceAndKeepsSelection() {
    QAbstractItemModelTester tester(Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(Model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(Model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changes(Model(), &QAbstractItemModel::dataChanged);
    for (const CIpAddr& a : {CIpAddr(10, 0, 0, 3), CIpAddr(9, 9, 9, 9), CIpAddr(10, 0, 0, 1)}) AddHost(a, kNow);
    Refresh();
    QCOMPARE(Model()->rowCount(), 3);
    QCOMPARE(inserts.count(), 1);  // one batch
    page_->HostList()->selectionModel()->select(
        Model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);

    AddHost(CIpAddr(10, 0, 0, 2), kNow);
    AddHost(CIpAddr(10, 0, 0, 3), kNow);  // counters change
    Refresh();
    QCOMPARE(Model()->rowCount(), 4);
    QStringList order;
    for (int r = 0; r < 4; ++r) order << Cell(r, 0);
    QCOMPARE(order, (QStringList{"9.9.9.9", "10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    QCOMPARE(inserts.count(), 2);
    QCOMPARE(inserts.last().at(1).toInt(), 2);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(resets.count(), 0);
    const QModelIndexList selected = page_->HostList()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(Cell(selected[0].row(), 0), QStringLiteral("10.0.0.3"));
    Refresh();  // nothing new: no signal at all
    QCOMPARE(changes.count(), 1);
    QCOMPARE(inserts.count(), 2);
  }

  void ageing_data() {
    QTest::addColumn<int>("hosts");
    QTest::addColumn<int>("silent");
    QTest::addColumn<bool>("aged");
    QTest::newRow("10 rows never age") << 10 << 100000 << false;
    QTest::newRow("11 rows, 300 s") << 11 << 300 << false;
    QTest::newRow("11 rows, 301 s") << 11 << 301 << true;
    QTest::newRow("30 rows, 181 s") << 30 << 181 << false;
    QTest::newRow("31 rows, 180 s") << 31 << 180 << false;
    QTest::newRow("31 rows, 181 s") << 31 << 181 << true;
    QTest::newRow("60 rows, 121 s") << 60 << 121 << false;
    QTest::newRow("61 rows, 120 s") << 61 << 120 << false;
    QTest::newRow("61 rows, 121 s") << 61 << 121 << true;
  }
  void ageing() {
    QFETCH(int, hosts);
    QFETCH(int, silent);
    QFETCH(bool, aged);
    QAbstractItemModelTester tester(Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    AddHost(Host(0), kNow - silent);
    for (int i = 1; i < hosts; ++i) AddHost(Host(i), kNow);
    Refresh();  // the list was empty: nothing ages yet
    QCOMPARE(Model()->rowCount(), hosts);
    Refresh();
    QCOMPARE(Model()->rowCount(), aged ? hosts - 1 : hosts);
    QCOMPARE(TableSize(), std::size_t(aged ? hosts - 1 : hosts));
    QCOMPARE(Cell(0, 0) == QStringLiteral("10.0.0.1"), !aged);
  }

  void clearForgetsHostsAndRecentPackets() {
    AddHost(CIpAddr(10, 0, 0, 1), kNow);
    Refresh();
    page_->TextPanel()->SetText(QStringLiteral("old"));
    // A refresh taken before Clear but delivered after it is stale.
    const CHostStatsUpdate stale = job_->Build(Tick());
    page_->ClearButton()->click();
    QCOMPARE(Model()->rowCount(), 0);
    QCOMPARE(TableSize(), std::size_t(0));
    QVERIFY(page_->TextPanel()->Text().isEmpty());
    {
      std::lock_guard<std::mutex> traffic(state_->trafficLock);
      QVERIFY(state_->Model().recent.empty());
    }
    page_->ApplyUpdate(stale);
    QCOMPARE(Model()->rowCount(), 0);
  }

  void pauseFreezesThePage() {
    AddHost(CIpAddr(10, 0, 0, 1), kNow);
    Refresh();
    page_->PauseBox()->click();
    QCOMPARE(state_->pause.load(), 1);
    AddHost(CIpAddr(10, 0, 0, 2), kNow);
    Refresh();
    page_->RefreshNow();
    QCOMPARE(Model()->rowCount(), 1);
    page_->PauseBox()->click();
    QCOMPARE(state_->pause.load(), 0);
    page_->RefreshNow();
    QCOMPARE(Model()->rowCount(), 2);
  }

  void jobRebuildsGraphOrFillsTrace() {
    AddHost(CIpAddr(10, 0, 0, 1), kNow);
    CHostStatsTick tick = Tick(kNow + 7);
    // Graph sub-page: the graph is rebuilt at the wall clock, no trace text.
    CHostStatsUpdate u = job_->Build(tick);
    QVERIFY(u.graphRebuilt);
    QVERIFY(!u.haveText);
    QCOMPARE(state_->graphSampleTime.load(), int64_t(kNow + 7));
    {
      std::lock_guard<std::mutex> graph(state_->graphLock);
      QCOMPARE(state_->Model().graphSent.size(), std::size_t(2));  // the sample and one empty bucket
    }
    // Packets sub-page: the trace text, once per batch of new data.
    page_->SubPages()->setCurrentIndex(1);
    QVERIFY(page_->PacketsShown());
    QVERIFY(!page_->GraphShown());
    u = job_->Build(tick);
    QVERIFY(!u.graphRebuilt);
    QVERIFY(u.haveText);
    QVERIFY(u.text.find("10.0.0.1:53") != std::string::npos);
    u = job_->Build(tick);
    QVERIFY(!u.haveText);
    // The first call of a run rebuilds the graph whatever is shown.
    tick.listDue = false;
    tick.firstGraph = true;
    u = job_->Build(tick);
    QVERIFY(u.graphRebuilt);
    QVERIFY(!u.haveHosts);
  }

  void jobDeliversThroughTheEventLoop() {
    for (int i = 0; i < 40; ++i) AddHost(Host(i), int32_t(std::time(nullptr)));
    page_->SubPages()->setCurrentIndex(1);
    job_->Run(Tick(std::time(nullptr)));
    QCOMPARE(Model()->rowCount(), 0);  // nothing changes until the event loop runs
    QTRY_COMPARE(Model()->rowCount(), 40);
    QCOMPARE(page_->ListRows(), 40);
    // A long trace text is scrolled to its end.
    QScrollBar* bar = page_->TextPanel()->TextBox()->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
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
        if (random() % 3 != 0) continue;
        CHostRow row;
        row.address = Host(i);
        row.bytesSent = random() % 4;
        hosts.push_back(row);
      }
      QPersistentModelIndex watched;
      CIpAddr watchedAddress{};
      if (model.rowCount() > 0) {
        const int r = int(random() % unsigned(model.rowCount()));
        watched = model.index(r, 0);
        watchedAddress = model.Row(r).address;
      }
      model.Merge(hosts);
      QCOMPARE(model.rowCount(), int(hosts.size()));
      for (int r = 0; r < model.rowCount(); ++r) QVERIFY(model.Row(r) == hosts[std::size_t(r)]);
      if (watched.isValid()) QVERIFY(model.Row(watched.row()).address == watchedAddress);
    }
  }

  // The real worker thread: the first cycle rebuilds the graph, the list
  // follows once 4 seconds have passed; everything arrives by queued calls.
  void workerDrivesThePage() {
    const int32_t now = int32_t(std::time(nullptr));
    AddHost(CIpAddr(10, 0, 0, 1), now);
    state_->graphSampleTime = 0;
    CRefreshWorker worker(*state_);
    worker.SetCycleMillis(100);
    CHostStatsJob* job = job_.get();
    worker.SetHostStatsJob([job](const CHostStatsTick& tick) { job->Run(tick); });
    worker.SetHostStatsShown(true);
    worker.Start();
    QTRY_VERIFY(state_->graphSampleTime.load() >= now);
    QTRY_COMPARE_WITH_TIMEOUT(Model()->rowCount(), 1, 8000);
    worker.Stop();
  }

};

QTEST_MAIN(HostStatsPageTest)
#include "host_stats_page_qtest.moc"
