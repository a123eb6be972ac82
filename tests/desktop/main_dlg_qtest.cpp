#include <QElapsedTimer>
#include <QLabel>
#include <QTabWidget>
#include <QTest>
#include <atomic>

#include "model/traffic_model.h"
#include "tests/desktop/desktop_test_support.h"
#include "desktop/window/about_page.h"
#include "desktop/settings/final_log_pass.h"
#include "desktop/window/main_dlg.h"
#include "desktop/window/refresh_worker.h"
#include "desktop/settings/settings_page.h"

class MainDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void TabsAndStatusLine() {
    CDesktopFixture f;
    CMainDlg window(*f.state, *f.settings, *f.capture, QStringLiteral("0.1.0"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Trafalyn"));
    QVERIFY(!window.windowIcon().isNull());
    QTabWidget* tabs = window.Tabs();
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i) titles << tabs->tabText(i);
    QCOMPARE(titles, (QStringList{"Settings", "Host Stats", "Conversations", "About"}));
    QCOMPARE(tabs->widget(0), static_cast<QWidget*>(window.SettingsPage()));
    auto* about = qobject_cast<CAboutPage*>(tabs->widget(3));
    QVERIFY(about != nullptr);
    QCOMPARE(about->VersionText(), QStringLiteral("0.1.0"));
    QCOMPARE(CAboutPage{QString()}.VersionText(), QStringLiteral("1.0.0.1"));  // empty keeps the template's
    auto* status = window.findChild<QLabel*>(QStringLiteral("status"));
    QVERIFY(status != nullptr);
    QTRY_COMPARE(status->text(), QStringLiteral("Stopped"));
  }

  void CloseFlushesOnceOnlyWhenLogging_data() {
    QTest::addColumn<int>("logging");
    QTest::addColumn<int>("passes");
    QTest::newRow("logging on") << 1 << 1;
    QTest::newRow("logging off") << 0 << 0;
  }
  void CloseFlushesOnceOnlyWhenLogging() {
    QFETCH(int, logging);
    QFETCH(int, passes);
    CDesktopFixture f;
    f.state->logDir = f.dir.path().toStdString();
    f.state->logToFile = logging;
    int count = 0;
    int quitSeen = -1;
    SetFinalLogPassObserver([&] {
      ++count;
      quitSeen = f.state->quit.load();
    });
    {
      CMainDlg window(*f.state, *f.settings, *f.capture, QString());
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      QElapsedTimer timer;
      timer.start();
      window.close();
      // The worker's one-second sleep is cut short, not waited out.
      QVERIFY2(timer.elapsed() < 700, qPrintable(QString::number(timer.elapsed())));
      QCOMPARE(count, passes);
    }
    // Destroying the closed window runs no second pass.
    QCOMPARE(count, passes);
    if (passes > 0) QCOMPARE(quitSeen, 1);
    SetFinalLogPassObserver({});
  }

  void GeometryRemembered() {
    CDesktopFixture f;
    {
      CMainDlg window(*f.state, *f.settings, *f.capture, QString());
      window.resize(700, 500);
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      window.close();
    }
    QVERIFY(f.settings->ReadValue("WindowGeometry").has_value());
    f.state->quit = 0;
    CMainDlg again(*f.state, *f.settings, *f.capture, QString());
    QCOMPARE(again.size(), QSize(700, 500));
  }

  void NotificationsShownOnUiThreadWithAdvice() {
    CDesktopFixture f;
    CMainDlg window(*f.state, *f.settings, *f.capture, QString());
    std::thread poster([&] {
      f.state->notifications.Post("Could not open file: /nowhere/stats.txt");
      f.state->notifications.Post(
          "Unable to open the adapter eth9.\neth9: You don't have permission to capture on that device");
    });
    poster.join();
    QTRY_COMPARE(f.messages.size(), 2);
    QCOMPARE(f.messages[0], QStringLiteral("Could not open file: /nowhere/stats.txt"));
    QVERIFY(f.messages[1].startsWith(QStringLiteral("Unable to open the adapter eth9.\n")));
    QVERIFY(f.messages[1].contains(QStringLiteral("sudo setcap cap_net_raw,cap_net_admin+p ")));
  }

  void WorkerDrivesHostStatsOnlyWhenShownAndNotPaused() {
    CDesktopFixture f;
    CRefreshWorker worker(*f.state);
    worker.SetCycleMillis(10);
    std::atomic<int> calls{0};
    std::atomic<int> firstGraphCalls{0};
    std::atomic<int> cycles{0};
    worker.SetHostStatsJob([&](const CHostStatsTick& tick) {
      ++calls;
      if (tick.firstGraph) ++firstGraphCalls;
    });
    worker.SetCycleHook([&] { ++cycles; });
    worker.Start();
    QTRY_VERIFY(cycles.load() > 5);
    QCOMPARE(calls.load(), 0);  // another page is shown
    f.state->pause = 1;
    worker.SetHostStatsShown(true);
    const int pausedFrom = cycles.load();
    QTRY_VERIFY(cycles.load() > pausedFrom + 5);
    QCOMPARE(calls.load(), 0);  // paused
    f.state->pause = 0;
    QTRY_COMPARE(calls.load(), 1);
    const int shownFrom = cycles.load();
    QTRY_VERIFY(cycles.load() > shownFrom + 20);
    // Within the 4-second cadence only the first graph comes through.
    QCOMPARE(calls.load(), 1);
    QCOMPARE(firstGraphCalls.load(), 1);
    worker.Stop();
  }

  void WorkerListCadenceIsFourSeconds() {
    CDesktopFixture f;
    CRefreshWorker worker(*f.state);
    worker.SetCycleMillis(50);
    std::mutex mutex;
    std::vector<CHostStatsTick> ticks;
    worker.SetHostStatsJob([&](const CHostStatsTick& tick) {
      std::lock_guard<std::mutex> lock(mutex);
      ticks.push_back(tick);
    });
    worker.SetHostStatsShown(true);
    worker.Start();
    const auto count = [&] {
      std::lock_guard<std::mutex> lock(mutex);
      return ticks.size();
    };
    QTRY_VERIFY_WITH_TIMEOUT(count() >= 2, 6000);
    worker.Stop();
    std::lock_guard<std::mutex> lock(mutex);
    QVERIFY(ticks[0].firstGraph);
    QVERIFY(!ticks[0].listDue);
    QVERIFY(!ticks[1].firstGraph);
    QVERIFY(ticks[1].listDue);
    QVERIFY(ticks[1].now - ticks[0].now >= 3);
  }

  void WorkerRunsDueLogPass() {
    CDesktopFixture f;
    f.state->logDir = f.dir.path().toStdString();
    f.state->statsOption = 1;
    f.state->logToFile = 1;
    {
      std::lock_guard<std::mutex> lock(f.state->trafficLock);
      f.state->Model().lastFlushTime -= 16;
    }
    CRefreshWorker worker(*f.state);
    worker.SetCycleMillis(10);
    worker.Start();
    QTRY_VERIFY(!QDir(f.dir.path()).entryList({QStringLiteral("stats*.txt")}).isEmpty());
    worker.Stop();
  }
};

QTEST_MAIN(MainDlgTest)
#include "main_dlg_qtest.moc"
