// The Settings page: the interface it restores and auto-starts, the switch
// pairs it keeps from both going off, the trace it shows stopped, the log
// files it switches, and the replay addresses it refuses.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "desktop/settings/settings_page.h"
#include "tests/desktop/desktop_test_support.h"

template <typename T>
static T* Find(QWidget& page, const char* name) {
  T* widget = page.findChild<T*>(QString::fromLatin1(name));
  if (widget == nullptr) qFatal("no control named %s", name);
  return widget;
}

class SettingsPageTest : public QObject {
  Q_OBJECT

 private slots:
  void storedInterfaceAndAutoStart_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("autoStart");
    QTest::addColumn<int>("item");
    QTest::addColumn<bool>("started");
    QTest::newRow("first interface is never restored") << 0 << false << 0 << false;
    QTest::newRow("third of three") << 2 << false << 3 << false;
    QTest::newRow("beyond the list") << 3 << false << 0 << false;
    QTest::newRow("none") << -1 << false << 0 << false;
    QTest::newRow("-s with interface 1") << 1 << true << 2 << true;
    QTest::newRow("-s with interface 0") << 0 << true << 0 << false;
  }
  void storedInterfaceAndAutoStart() {
    QFETCH(int, stored);
    QFETCH(bool, autoStart);
    QFETCH(int, item);
    QFETCH(bool, started);
    CDesktopFixture f;
    for (uint8_t i = 0; i < 3; ++i) f.AddInterface("trafalyn-none" + std::to_string(i), {CIpAddr(192, 168, 7, i)});
    CSettingsPage page(f.engine, f.settings, {stored, autoStart});
    QCOMPARE(Find<QComboBox>(page, "interfaces")->currentIndex(), item);
    QCOMPARE(Find<QPushButton>(page, "start")->isEnabled(), item > 0);
    QCOMPARE(f.engine.Capture().TraceId() != 0, started);
    QCOMPARE(Find<QLabel>(page, "listing")->text(), item > 0 ? QStringLiteral("192.168.7.%1  ").arg(stored) : QString());
    // Opening the page stores nothing but a restored choice.
    QCOMPARE(f.settings.ReadValue("InterfaceKey").has_value(), item > 0);
  }

  void switchPairsNeverBothOff() {
    CDesktopFixture f;
    CSettingsPage page(f.engine, f.settings, {});
    const auto tcpUdp = [&f] { return std::pair(f.engine.CaptureOptions().tcp, f.engine.CaptureOptions().udp); };
    Find<QCheckBox>(page, "tcp")->click();  // TCP off while UDP is off: UDP comes on
    QCOMPARE(tcpUdp(), std::pair(false, true));
    Find<QCheckBox>(page, "udp")->click();
    QCOMPARE(tcpUdp(), std::pair(true, false));
    auto* hex = Find<QCheckBox>(page, "hex");
    Find<QCheckBox>(page, "stats")->click();  // Stats off: Data comes on, Hex becomes available
    QVERIFY(hex->isEnabled());
    hex->click();
    QVERIFY(f.engine.LogOptions() == (CLogOptions{false, false, true, true, f.engine.LogOptions().dir}));
    Find<QCheckBox>(page, "data")->click();  // Data off: Stats back on, Hex off and disabled
    QVERIFY(!hex->isEnabled());
    QVERIFY(f.engine.LogOptions() == (CLogOptions{false, true, false, false, f.engine.LogOptions().dir}));
  }

  void noneStopsTheTraceAndStoresMinusOne() {
    CDesktopFixture f;
    f.AddInterface("trafalyn-none0");
    f.AddInterface("lo", {CIpAddr(127, 0, 0, 1)});  // opens or ends by itself: either way it must show stopped
    CSettingsPage page(f.engine, f.settings, {});
    auto* combo = Find<QComboBox>(page, "interfaces");
    combo->setCurrentIndex(2);
    QCOMPARE(f.settings.ReadValue("InterfaceKey").value_or(""), std::string("1"));
    Find<QPushButton>(page, "start")->click();
    QCOMPARE(f.engine.Capture().TraceId(), 1);
    combo->setCurrentIndex(0);
    QVERIFY(!f.engine.Capture().IsCapturing());
    QVERIFY(!Find<QPushButton>(page, "start")->isEnabled());
    QVERIFY(Find<QPushButton>(page, "stop")->isChecked());
    QCOMPARE(f.settings.ReadValue("InterfaceKey").value_or(""), std::string("-1"));
  }

  void unopenableDeviceShowsStopped() {
    CDesktopFixture f;
    f.AddInterface("trafalyn-none0");
    CSettingsPage page(f.engine, f.settings, {});
    Find<QComboBox>(page, "interfaces")->setCurrentIndex(1);
    Find<QPushButton>(page, "start")->click();
    QTRY_VERIFY(Find<QPushButton>(page, "stop")->isChecked());
    QVERIFY(!f.engine.Capture().IsCapturing());
    const std::vector<std::string> notes = f.engine.Notifications().TakeAll();
    QVERIFY(!notes.empty());
    QVERIFY(notes.front().starts_with("Unable to open the adapter"));
  }

  void logToFileOffWritesTheFinalPass() {
    CDesktopFixture f;
    f.engine.SetLogOptions({false, true, false, false, f.dir.path().toStdString()});
    RecordPacket(f.engine, EDirection::kSent, CIpAddr(10, 0, 5, 5), 53, {1000, 0}, 12);
    CSettingsPage page(f.engine, f.settings, {});
    auto* box = Find<QCheckBox>(page, "logToFile");
    box->click();
    QVERIFY(f.engine.LogOptions().enabled);
    QCOMPARE(f.settings.ReadAutoLog(), std::string("1"));
    QVERIFY(f.Files(QStringLiteral("stats*.txt")).isEmpty());
    box->click();
    QCOMPARE(f.settings.ReadAutoLog(), std::string("0"));
    QCOMPARE(f.Files(QStringLiteral("stats*.txt")).size(), 1);
  }

  void chosenLogDirIsStoredNotApplied() {
    CDesktopFixture f;
    CSettingsPage page(f.engine, f.settings, {});
    const std::string before = f.engine.LogOptions().dir;
    QString offered;
    page.SetFolderChooser([&](const QString& start) {
      offered = start;
      return f.dir.path();
    });
    Find<QLineEdit>(page, "logDir")->setText(QStringLiteral("/typed/start"));
    Find<QPushButton>(page, "chooseDir")->click();
    QCOMPARE(offered, QStringLiteral("/typed/start"));
    QCOMPARE(Find<QLineEdit>(page, "logDir")->text(), f.dir.path());
    QCOMPARE(f.settings.ReadLogDir(), f.dir.path().toStdString());
    QCOMPARE(f.engine.LogOptions().dir, before);
  }

  void replayRefusesBadAddresses_data() {
    QTest::addColumn<QString>("addresses");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << "" << "Please enter the local host's address.";
    QTest::newRow("three octets") << "10.0.0" << "Not an IP address: 10.0.0";
    QTest::newRow("octet too big") << "10.0.0.1, 10.0.0.256" << "Not an IP address: 10.0.0.256";
    QTest::newRow("bad IPv6") << "2001:db8::1 2001:db8::1::2" << "Not an IP address: 2001:db8::1::2";
  }
  void replayRefusesBadAddresses() {
    QFETCH(QString, addresses);
    QFETCH(QString, message);
    CDesktopFixture f;
    CSettingsPage page(f.engine, f.settings, {});
    QVERIFY(!page.ReplayFile(QStringLiteral("/nonexistent.pcap"), addresses));
    QCOMPARE(f.messages, QStringList{message});
    QVERIFY(!f.engine.ShowsReplay());
  }
};

QTEST_MAIN(SettingsPageTest)
#include "settings_page_qtest.moc"
