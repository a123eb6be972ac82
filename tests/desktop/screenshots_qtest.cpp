// The main window after a replay of resources/sample.pcap, tab by tab. With
// TRAFALYN_SCREENSHOT_DIR set (`make screenshots`), each view is also saved
// there as a PNG.
#include <QComboBox>
#include <QDir>
#include <QItemSelectionModel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <mutex>

#include "engine/capture_file_replay.h"
#include "model/traffic_model.h"
#include "tests/desktop/desktop_test_support.h"
#include "desktop/conversations/conversation_list_model.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/hosts/host_list_model.h"
#include "desktop/hosts/host_stats_job.h"
#include "desktop/hosts/host_stats_page.h"
#include "desktop/window/main_dlg.h"
#include "desktop/settings/settings_page.h"
#include "desktop/common/text_window.h"

class ScreenshotsTest : public QObject {
  Q_OBJECT

 private:
  void Save(QWidget& window, const char* name) {
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage();
    QVERIFY(!image.isNull());
    const QString dir = qEnvironmentVariable("TRAFALYN_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    QVERIFY(image.save(QDir(dir).filePath(QString::fromLatin1(name) + QStringLiteral(".png"))));
  }

 private slots:
  void everyTabAfterASampleReplay() {
    CDesktopFixture f;
    const std::string sample = TRAFALYN_SOURCE_DIR "/resources/sample.pcap";
    const std::optional<CIpAddr> local = MostFrequentAddress(sample);
    QVERIFY(local.has_value());
    auto& iface = f.AddInterface("sample0", (*local)[3]);
    iface.addresses.clear();
    iface.AddAddress((*local)[0], (*local)[1], (*local)[2], (*local)[3]);

    f.state->logDir = "/var/log/trafalyn";
    CMainDlg window(*f.state, *f.settings, *f.capture, QStringLiteral("0.1.0"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The pictures show the capture as of its own clock; the worker would
    // age and graph it by today's.
    window.Worker().Stop();

    if (auto* interfaces = window.SettingsPage()->findChild<QComboBox*>()) interfaces->setCurrentIndex(1);
    const CReplayResult replay = ReplayCaptureFile(*f.state, sample, iface);
    QVERIFY2(replay.Ok(), replay.error.c_str());
    QVERIFY(replay.framesRecorded > 0);
    int64_t captureNow = 0;
    {
      std::lock_guard<std::mutex> traffic(f.state->trafficLock);
      captureNow = int64_t(f.state->Model().sampler.LastBucket()) * 5 + 4;
    }
    Save(window, "settings");

    QTabWidget* tabs = window.Tabs();
    auto* hostStats = qobject_cast<CHostStatsPage*>(tabs->widget(CMainDlg::kHostStatsTab));
    auto* conversations = qobject_cast<CConversationsPage*>(tabs->widget(CMainDlg::kConversationsTab));
    QVERIFY(hostStats && conversations);

    tabs->setCurrentIndex(CMainDlg::kHostStatsTab);
    QVERIFY(hostStats->HostModel()->rowCount() > 0);  // filled on selection
    CHostStatsJob job(*f.state, *hostStats);
    CHostStatsTick tick;
    tick.listDue = true;
    tick.firstGraph = true;
    tick.now = captureNow;
    hostStats->ApplyUpdate(job.Build(tick));
    hostStats->HostList()->selectRow(0);
    Save(window, "host_stats_graph");

    hostStats->SubPages()->setCurrentIndex(1);
    {
      std::lock_guard<std::mutex> traffic(f.state->trafficLock);
      f.state->Model().newData = 1;
    }
    hostStats->ApplyUpdate(job.Build(tick));
    QVERIFY(hostStats->TextPanel()->Text().contains(QStringLiteral("=====")));
    Save(window, "host_stats_packets");

    tabs->setCurrentIndex(CMainDlg::kConversationsTab);
    conversations->Refresh();
    QVERIFY(conversations->ListModel()->rowCount() > 0);
    QItemSelectionModel* selection = conversations->List()->selectionModel();
    for (int r = 0; r < 2 && r < conversations->ListModel()->rowCount(); ++r) {
      selection->select(conversations->ListModel()->index(r, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    conversations->Show();
    QVERIFY(!conversations->TextPane()->toPlainText().isEmpty());
    Save(window, "conversations");

    tabs->setCurrentIndex(CMainDlg::kAboutTab);
    Save(window, "about");
    window.close();
  }
};

QTEST_MAIN(ScreenshotsTest)
#include "screenshots_qtest.moc"
