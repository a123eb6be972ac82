// The main window: closing it shuts the engine down once and at once, its
// geometry is remembered when it changed, notifications from any thread become message
// boxes, and the refresh worker drives Host Stats only while it is shown.
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTest>
#include <atomic>
#include <mutex>
#include <thread>

#include "desktop/window/main_dlg.h"
#include "tests/desktop/desktop_test_support.h"

class MainDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void closeRunsTheFinalPassOnceAndAtOnce_data() {
    QTest::addColumn<bool>("logging");
    QTest::newRow("logging on") << true;
    QTest::newRow("logging off") << false;
  }
  void closeRunsTheFinalPassOnceAndAtOnce() {
    QFETCH(bool, logging);
    CDesktopFixture f;
    f.engine.SetLogOptions({logging, true, false, false, f.dir.path().toStdString()});
    RecordPacket(f.engine, EDirection::kSent, CIpAddr(10, 0, 5, 5), 53, {1000, 0}, 12);
    {
      CMainDlg window(f.engine, f.settings, QString());
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      QElapsedTimer timer;
      timer.start();
      window.close();
      // The worker's one-second sleep is cut short, not waited out.
      QVERIFY2(timer.elapsed() < 700, qPrintable(QString::number(timer.elapsed())));
      QVERIFY(f.engine.Cancel().Cancelled());
    }
    const QStringList logs = f.Files(QStringLiteral("stats*.txt"));
    QCOMPARE(logs.size(), logging ? 1 : 0);
    if (!logging) return;
    QFile log(f.dir.filePath(logs[0]));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().count('\n'), 2);  // a header and the one conversation, once
  }

  // Stored when the user changed it, and only then: a window closed where
  // it appeared leaves the settings file as it was.
  void geometryIsRemembered() {
    CDesktopFixture f;
    const auto file = [&f] {
      QFile settings(f.settings.FilePath());
      return settings.open(QIODevice::ReadOnly) ? settings.readAll() : QByteArray();
    };
    for (int round = 0; round < 2; ++round) {
      const QByteArray before = file();
      CMainDlg window(f.engine, f.settings, QString());
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      if (round == 0) window.resize(760, 560);
      QCOMPARE(window.size(), QSize(760, 560));
      window.close();
      QCOMPARE(file() == before, round == 1);
    }
  }

  void notificationsBecomeMessageBoxesWithAdvice() {
    CDesktopFixture f;
    CMainDlg window(f.engine, f.settings, QString());
    std::thread poster([&f] {
      f.engine.Notifications().Post("Could not open file: /nowhere/stats.txt");
      f.engine.Notifications().Post(
          "Unable to open the adapter eth9.\neth9: You don't have permission to capture on that device");
    });
    poster.join();
    QTRY_COMPARE(f.messages.size(), 2);
    QCOMPARE(f.messages[0], QStringLiteral("Could not open file: /nowhere/stats.txt"));
    QVERIFY(f.messages[1].startsWith(QStringLiteral("Unable to open the adapter eth9.\n")));
    QVERIFY(f.messages[1].contains(QStringLiteral("sudo setcap cap_net_raw,cap_net_admin+p ")));
  }

  // Nothing while another tab is shown; then the graph at once, and the
  // list 4 seconds later.
  void workerDrivesHostStatsOnlyWhileShown() {
    CDesktopFixture f;
    CMainDlg window(f.engine, f.settings, QString());
    std::mutex mutex;
    std::vector<CHostStatsTick> ticks;
    const auto count = [&] {
      std::lock_guard<std::mutex> lock(mutex);
      return ticks.size();
    };
    window.Worker().SetHostStatsJob([&](const CHostStatsTick& tick) {
      std::lock_guard<std::mutex> lock(mutex);
      ticks.push_back(tick);
    });
    QTest::qWait(1500);
    QCOMPARE(count(), std::size_t(0));
    window.Tabs()->setCurrentIndex(CMainDlg::kHostStatsTab);
    QTRY_VERIFY_WITH_TIMEOUT(count() >= 2, 8000);
    window.close();
    std::lock_guard<std::mutex> lock(mutex);
    QVERIFY(ticks[0].firstGraph);
    QVERIFY(!ticks[1].firstGraph && ticks[1].listDue);
  }
};

QTEST_MAIN(MainDlgTest)
#include "main_dlg_qtest.moc"
