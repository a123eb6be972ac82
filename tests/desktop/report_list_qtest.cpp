// The two report lists as the user works them: sorted by any column on the
// raw values, not the texts; narrowed by the filter box; rows copied as
// tab-separated text.
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

#include "desktop/common/list_sort_proxy.h"
#include "desktop/common/report_list.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/hosts/host_stats_page.h"
#include "tests/desktop/desktop_test_support.h"

namespace {

// Three remote hosts whose texts sort otherwise than their values: the
// addresses (.9 before .10), the bytes ("99999" before "195 KB") and the
// times (23:59:59 of one day before 00:00:01 of the next).
void RecordHosts(CTrafficEngine& engine) {
  RecordPacket(engine, EDirection::kReceived, CIpAddr(10, 0, 0, 10), 80, {86399, 0}, 200000 - 28);
  RecordPacket(engine, EDirection::kReceived, CIpAddr(10, 0, 0, 9), 80, {86401, 0}, 99999 - 28);
  RecordPacket(engine, EDirection::kReceived, CIpAddr(10, 0, 0, 11), 80, {86400, 500000}, 5000 - 28);
}

QStringList FirstColumn(const QTableView& view) {
  QStringList texts;
  for (int r = 0; r < view.model()->rowCount(); ++r) texts << view.model()->index(r, 0).data().toString();
  return texts;
}

}  // namespace

class ReportListTest : public QObject {
  Q_OBJECT

 private slots:
  void sortsByTheRawValue_data() {
    QTest::addColumn<bool>("hosts");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QStringList>("order");
    const QString a = "10.0.0.9", b = "10.0.0.10", c = "10.0.0.11";
    QTest::newRow("hosts by address") << true << 0 << false << QStringList{a, b, c};
    QTest::newRow("hosts by bytes received") << true << 3 << false << QStringList{c, a, b};
    QTest::newRow("hosts by last time, newest first") << true << 6 << true << QStringList{a, c, b};
    const QString ae = a + ":80", be = b + ":80", ce = c + ":80";
    QTest::newRow("conversations by endpoint") << false << 0 << true << QStringList{ce, be, ae};
    QTest::newRow("conversations by bytes") << false << 6 << false << QStringList{ce, ae, be};
    QTest::newRow("conversations by start") << false << 9 << false << QStringList{be, ce, ae};
    QTest::newRow("conversations unsorted: by ID") << false << -1 << false << QStringList{be, ae, ce};
  }
  void sortsByTheRawValue() {
    QFETCH(bool, hosts);
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(QStringList, order);
    CDesktopFixture f;
    RecordHosts(f.engine);
    CHostStatsPage hostPage(f.engine);
    CConversationsPage conversationPage(f.engine);
    hostPage.RefreshNow();
    conversationPage.Refresh();
    QTableView* view = hosts ? hostPage.HostList() : conversationPage.List();
    view->horizontalHeader()->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    QCOMPARE(FirstColumn(*view), order);
  }

  void filterBoxNarrowsAndRowsCopyAsTabSeparatedText() {
    CDesktopFixture f;
    RecordHosts(f.engine);
    CHostStatsPage page(f.engine);
    page.RefreshNow();
    page.show();
    QVERIFY(QTest::qWaitForWindowActive(&page));
    CReportList& list = *page.Rows();
    list.FilterBox()->setText(QStringLiteral("0.0.1"));
    QCOMPARE(FirstColumn(*list.View()), (QStringList{"10.0.0.10", "10.0.0.11"}));
    list.View()->selectAll();
    list.View()->setFocus();
    QTest::keyClick(list.View(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("IP\tName\tSent\tRcvd\tPk. Sent\tPk. Rcvd\tLast Time\tProcess\n"
                            "10.0.0.10\t\t0\t195 KB\t0\t1\t23:59:59.000000\t\n"
                            "10.0.0.11\t\t0\t5000\t0\t1\t00:00:00.500000\t\n"));
  }

  // The Processes view's "show only" and "hide" rule: an exact match on one
  // column, on top of the filter box.
  void columnRuleKeepsOrHidesExactMatches() {
    CDesktopFixture f;
    RecordHosts(f.engine);
    CHostStatsPage page(f.engine);
    page.RefreshNow();
    CReportList& list = *page.Rows();
    list.Proxy()->SetColumnRule(0, QStringLiteral("10.0.0.1"), true);
    QCOMPARE(FirstColumn(*list.View()), QStringList{});
    list.Proxy()->SetColumnRule(0, QStringLiteral("10.0.0.10"), false);
    list.FilterBox()->setText(QStringLiteral("0.0.1"));
    QCOMPARE(FirstColumn(*list.View()), QStringList{"10.0.0.11"});
    list.Proxy()->ClearColumnRule();
    QCOMPARE(FirstColumn(*list.View()), (QStringList{"10.0.0.10", "10.0.0.11"}));
  }
};

QTEST_MAIN(ReportListTest)
#include "report_list_qtest.moc"
