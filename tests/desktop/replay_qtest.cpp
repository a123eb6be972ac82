// The desktop's replay of an old capture file (resources/sample.pcap, taken
// in March 2026) against the headless program's replay of the same file:
// the same hosts, the same conversations, the same statistics log rows, and
// a graph that still shows the capture a minute after the replay ended. The
// session runs on the capture clock, months behind the wall clock.
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <atomic>

#include "desktop/conversations/conversation_list_model.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/hosts/graph_panel.h"
#include "desktop/hosts/host_list_model.h"
#include "desktop/hosts/host_stats_page.h"
#include "desktop/settings/settings_page.h"
#include "desktop/window/main_dlg.h"
#include "output/value_format.h"
#include "tests/desktop/desktop_test_support.h"

namespace {

const QString kSample = QStringLiteral(TRAFALYN_SOURCE_DIR "/resources/sample.pcap");

std::atomic<int64_t> gWallAhead{0};
int64_t MovableWall() { return CSessionClock::SystemSeconds() + gWallAhead.load(); }

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QSet<QByteArray> Lines(const QString& path) {
  QSet<QByteArray> lines;
  for (const QByteArray& line : ReadAll(path).split('\n')) {
    if (!line.isEmpty()) lines.insert(line);
  }
  return lines;
}

}  // namespace

class ReplayTest : public QObject {
  Q_OBJECT

 private slots:
  void desktopReplayMatchesTheHeadlessOne() {
    QTemporaryDir headless;
    QProcess run;
    run.start(QStringLiteral(TRAFALYN_PROGRAM),
              {QStringLiteral("--headless"), QStringLiteral("-r"), kSample, QStringLiteral("--log-dir"),
               headless.path(), QStringLiteral("--hosts-export"), headless.filePath(QStringLiteral("hosts.csv"))});
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), 0);
    const QRegularExpressionMatch counts = QRegularExpression(QStringLiteral("\nConversations \\((\\d+), (\\d+) rows\\)"))
                                               .match(QString::fromLatin1(run.readAllStandardOutput()));
    QVERIFY(counts.hasMatch());
    QStringList headlessHosts;
    for (const QByteArray& line : ReadAll(headless.filePath(QStringLiteral("hosts.csv"))).split('\n').mid(1)) {
      if (!line.isEmpty()) headlessHosts << QString::fromLatin1(line.split(',').first()).remove(QLatin1Char('"'));
    }

    CDesktopFixture f(&MovableWall);
    f.engine.SetLogOptions({true, true, false, false, f.dir.path().toStdString()});
    CMainDlg window(f.engine, f.settings, QStringLiteral("test"));
    // Both protocols, as in the headless program: UDP is on from the start.
    QVERIFY(window.SettingsPage()->ReplayFile(kSample, QStringLiteral("192.0.2.10")));
    QTRY_COMPARE_WITH_TIMEOUT(f.messages.size(), 1, 30000);
    QVERIFY2(f.messages[0].startsWith(QStringLiteral("Replayed ")), qPrintable(f.messages[0]));
    gWallAhead = 60;

    auto* status = window.findChild<QLabel*>(QStringLiteral("status"));
    QTRY_VERIFY(status->text().startsWith(QStringLiteral("Showing ") + kSample));
    QTabWidget* tabs = window.Tabs();
    tabs->setCurrentIndex(CMainDlg::kHostStatsTab);  // refreshes the list at once
    auto* hosts = qobject_cast<CHostStatsPage*>(tabs->widget(CMainDlg::kHostStatsTab));
    QStringList shown;
    for (int r = 0; r < hosts->HostModel()->rowCount(); ++r) {
      shown << QString::fromStdString(FormatAddress(hosts->HostModel()->Row(r).address));
    }
    QCOMPARE(shown, headlessHosts);
    // Named by the file's own DNS answer, with no query sent.
    QCOMPARE(hosts->HostModel()->Row(0).name, std::string("www.example.com"));
    // The worker's first refresh of the page draws the graph.
    QTRY_VERIFY_WITH_TIMEOUT(!hosts->GraphPanel()->Series().received.empty(), 5000);
    const CGraphSeries& graph = hosts->GraphPanel()->Series();
    QVERIFY(std::any_of(graph.received.begin(), graph.received.end(), [](uint64_t b) { return b > 0; }));

    tabs->setCurrentIndex(CMainDlg::kConversationsTab);
    auto* conversations = qobject_cast<CConversationsPage*>(tabs->widget(CMainDlg::kConversationsTab));
    conversations->Refresh();
    const CConversationListModel* list = conversations->ListModel();
    QSet<int> ids;
    for (int r = 0; r < list->rowCount(); ++r) ids.insert(list->Row(r).key.convId);
    QCOMPARE(ids.size(), counts.captured(1).toInt());
    QCOMPARE(list->rowCount(), counts.captured(2).toInt());
    // Show names the remote end on screen; the logs below keep their bytes.
    conversations->List()->selectRow(2);  // ConvId 2, to www.example.com
    QVERIFY(conversations->SelectionText().find("\r\nRemote: 198.51.100.20 (www.example.com)\r\nSEND ") !=
            std::string::npos);

    // The same file name (stamped by the capture clock) and the same rows,
    // in whatever order the conversations finished.
    const QStringList logs = f.Files(QStringLiteral("stats*.txt"));
    QCOMPARE(logs, QDir(headless.path()).entryList({QStringLiteral("stats*.txt")}));
    QCOMPARE(Lines(f.dir.filePath(logs[0])), Lines(headless.filePath(logs[0])));
    QCOMPARE(Lines(f.dir.filePath(logs[0])).size(), ids.size() + 1);  // a header, a row each
  }
};

QTEST_MAIN(ReplayTest)
#include "replay_qtest.moc"
