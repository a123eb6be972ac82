// The traced device disappears while the window runs: the user is told in a
// message box and the Settings page shows the trace stopped, ready for a new
// Start. Root only: the test moves into a network namespace of its own and
// traces one end of a veth pair there, then deletes it.
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <sched.h>
#include <unistd.h>

#include <string>

#include "tests/device_test_support.h"
#include "tests/desktop/desktop_test_support.h"
#include "desktop/window/main_dlg.h"
#include "desktop/settings/settings_page.h"

class DeviceLossTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (geteuid() != 0) QSKIP("needs root");
    // The whole program moves; every thread it starts later is in there too.
    if (unshare(CLONE_NEWNET) != 0) QSKIP("cannot create a network namespace");
    if (!Shell("ip link add tfloss0 type veth peer name tfloss1") ||
        !Shell("ip link set tfloss0 up") || !Shell("ip link set tfloss1 up")) {
      QSKIP("cannot create a veth pair");
    }
  }

  void settingsPageShowsTheTraceStopped() {
    CDesktopFixture f;
    f.AddLiveInterface("tfloss0", 10, 99, 0, 1);
    CMainDlg window(*f.state, *f.settings, *f.capture, QStringLiteral("test"));
    window.show();
    auto* start = window.SettingsPage()->findChild<QPushButton*>(QStringLiteral("start"));
    auto* stop = window.SettingsPage()->findChild<QPushButton*>(QStringLiteral("stop"));
    QVERIFY(start != nullptr && stop != nullptr);
    // Item 0 is "none"; the first interface is item 1.
    window.SettingsPage()->findChild<QComboBox*>(QStringLiteral("interfaces"))->setCurrentIndex(1);
    start->click();
    QVERIFY(f.capture->IsCapturing());
    QTRY_VERIFY_WITH_TIMEOUT((SendFrame("tfloss1"), f.capture->Stats().framesSeen > 0), 5000);
    QVERIFY(start->isChecked());

    QVERIFY(Shell("ip link del tfloss0"));
    QTRY_VERIFY_WITH_TIMEOUT(stop->isChecked(), 5000);
    QVERIFY(!f.capture->IsCapturing());
    QTRY_COMPARE_WITH_TIMEOUT(f.messages.size(), 1, 3000);
    QVERIFY2(f.messages.front().contains(QStringLiteral("Capture on tfloss0 stopped")),
             qPrintable(f.messages.front()));
    QVERIFY(start->isEnabled());
  }
};

QTEST_MAIN(DeviceLossTest)
#include "device_loss_qtest.moc"
