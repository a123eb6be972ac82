// The traced device disappears while the window runs: the user is told in a
// message box and the Settings page shows the trace stopped, ready for a new
// Start. Root only: the test moves into a network namespace of its own and
// traces one end of a veth pair there, then deletes it.
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/ui/desktop_test_support.h"
#include "ui/main_dlg.h"
#include "ui/settings_page.h"

namespace {

bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// One broadcast Ethernet frame out of `device`.
void SendFrame(const char* device) {
  const int fd = socket(AF_PACKET, SOCK_RAW, 0);
  if (fd < 0) return;
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = static_cast<int>(if_nametoindex(device));
  to.sll_halen = 6;
  std::memset(to.sll_addr, 0xff, 6);
  unsigned char frame[60] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 2, 0, 0, 0, 0, 1, 0x08, 0x00};
  (void)sendto(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(fd);
}

}  // namespace

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
    auto device = std::make_unique<CInterfaceRecord>();
    device->label = "1. tfloss0";
    device->deviceName = "tfloss0";
    device->AddAddress(10, 99, 0, 1);
    f.state->interfaces.push_back(std::move(device));
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
