#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "settings/filter_rule_store.h"
#include "model/traffic_model.h"
#include "tests/desktop/desktop_test_support.h"
#include "desktop/settings/final_log_pass.h"
#include "desktop/settings/settings_page.h"

template <typename T>
static T* Find(QWidget& page, const char* name) {
  T* widget = page.findChild<T*>(QString::fromLatin1(name));
  if (widget == nullptr) qFatal("no control named %s", name);
  return widget;
}

class SettingsPageTest : public QObject {
  Q_OBJECT

 private slots:
  void FirstRunState() {
    CDesktopFixture f;
    f.AddInterface("trafalyn-none0", 1);
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    auto* combo = Find<QComboBox>(page, "interfaces");
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), QStringLiteral("<None>"));
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(!Find<QPushButton>(page, "start")->isEnabled());
    QVERIFY(!Find<QPushButton>(page, "stop")->isEnabled());
    QVERIFY(Find<QPushButton>(page, "stop")->isChecked());
    QVERIFY(!Find<QCheckBox>(page, "hex")->isEnabled());
    QCOMPARE(f.state->udp.load(), 0);
    QCOMPARE(f.state->tcp.load(), 1);
    QCOMPARE(f.state->statsOption.load(), 1);
    QCOMPARE(Find<QLabel>(page, "summary")->text(), QStringLiteral("None"));
    QCOMPARE(Find<QLineEdit>(page, "logDir")->text(), QString::fromStdString(f.state->logDir));
    QVERIFY(!f.settings->ReadValue("InterfaceKey").has_value());  // opening writes nothing
    const std::string before = f.state->logDir;
    QString offered;  // a chosen folder is stored, not applied
    page.SetFolderChooser([&](const QString& start) {
      offered = start;
      return f.dir.path();
    });
    Find<QLineEdit>(page, "logDir")->setText(QStringLiteral("/typed/start"));
    Find<QPushButton>(page, "chooseDir")->click();
    QCOMPARE(offered, QStringLiteral("/typed/start"));
    QCOMPARE(Find<QLineEdit>(page, "logDir")->text(), f.dir.path());
    QCOMPARE(f.settings->ReadLogDir(), f.dir.path().toStdString());
    QCOMPARE(f.state->logDir, before);
  }

  void StoredInterfaceRestore_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("expectedItem");
    QTest::newRow("first interface is never restored") << 0 << 0;
    QTest::newRow("third of three") << 2 << 3;
    QTest::newRow("beyond the list") << 3 << 0;
    QTest::newRow("none") << -1 << 0;
  }
  void StoredInterfaceRestore() {
    QFETCH(int, stored);
    QFETCH(int, expectedItem);
    CDesktopFixture f;
    for (uint8_t i = 1; i <= 3; ++i) f.AddInterface("trafalyn-none" + std::to_string(i), i);
    f.state->interfaceIndex = stored;
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    QCOMPARE(Find<QComboBox>(page, "interfaces")->currentIndex(), expectedItem);
    const bool restored = expectedItem > 0;
    QCOMPARE(Find<QPushButton>(page, "start")->isEnabled(), restored);
    QCOMPARE(Find<QPushButton>(page, "stop")->isEnabled(), restored);
    if (restored) {
      QCOMPARE(f.settings->ReadValue("InterfaceKey").value_or(""), std::to_string(stored));
      QCOMPARE(f.state->selectedInterface.load(), f.state->InterfaceAt(stored));
      QCOMPARE(Find<QLabel>(page, "listing")->text(),
               QStringLiteral("192.168.7.%1  10.0.0.%1  ").arg(stored + 1));
    } else {
      QVERIFY(!f.settings->ReadValue("InterfaceKey").has_value());
      QVERIFY(Find<QLabel>(page, "listing")->text().isEmpty());
    }
  }

  void SwitchPairsNeverBothOff() {
    CDesktopFixture f;
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    auto* tcp = Find<QCheckBox>(page, "tcp");
    auto* udp = Find<QCheckBox>(page, "udp");
    tcp->click();  // TCP off while UDP is off: UDP comes on
    QVERIFY(udp->isChecked());
    QCOMPARE(f.state->tcp.load(), 0);
    QCOMPARE(f.state->udp.load(), 1);
    udp->click();
    QVERIFY(tcp->isChecked());
    QCOMPARE(f.state->tcp.load(), 1);
    QCOMPARE(f.state->udp.load(), 0);
    udp->click();  // both on is allowed
    QCOMPARE(f.state->tcp.load() + f.state->udp.load(), 2);
    auto* stats = Find<QCheckBox>(page, "stats");
    auto* hex = Find<QCheckBox>(page, "hex");
    stats->click();  // Stats off: Data comes on, Hex becomes available
    QVERIFY(hex->isEnabled());
    QCOMPARE(f.state->statsOption.load(), 0);
    QCOMPARE(f.state->dataOption.load(), 1);
    hex->click();
    QCOMPARE(f.state->hexOption.load(), 1);
    Find<QCheckBox>(page, "data")->click();  // Data off: Stats back on, Hex off and disabled
    QVERIFY(stats->isChecked());
    QVERIFY(!hex->isChecked());
    QVERIFY(!hex->isEnabled());
    QCOMPARE(f.state->statsOption.load(), 1);
    QCOMPARE(f.state->dataOption.load(), 0);
    QCOMPARE(f.state->hexOption.load(), 0);
  }

  void NoneStopsTraceAndStoresMinusOne() {
    CDesktopFixture f;
    f.AddInterface("trafalyn-none0", 1);
    f.AddInterface("lo", 2);  // the trace may open or end by itself; either way it must show stopped
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    auto* combo = Find<QComboBox>(page, "interfaces");
    combo->setCurrentIndex(2);
    QCOMPARE(f.settings->ReadValue("InterfaceKey").value_or(""), std::string("1"));
    Find<QPushButton>(page, "start")->click();
    QVERIFY(f.capture->TraceId() == 1);
    combo->setCurrentIndex(0);
    QVERIFY(!f.capture->IsCapturing());
    QVERIFY(!Find<QPushButton>(page, "start")->isEnabled());
    QVERIFY(!Find<QPushButton>(page, "stop")->isEnabled());
    QVERIFY(Find<QPushButton>(page, "stop")->isChecked());
    QCOMPARE(f.settings->ReadValue("InterfaceKey").value_or(""), std::string("-1"));
    QCOMPARE(f.state->interfaceIndex.load(), 1);  // the earlier choice stays in the state
  }

  void UnopenableDeviceShowsStopped() {
    CDesktopFixture f;
    f.AddInterface("trafalyn-none0", 1);
    f.AddInterface("trafalyn-none1", 2);
    f.state->interfaceIndex = 1;
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    Find<QPushButton>(page, "start")->click();
    QTRY_VERIFY(Find<QPushButton>(page, "stop")->isChecked());
    QVERIFY(!f.capture->IsCapturing());
    const auto notes = f.state->notifications.TakeAll();
    QVERIFY(!notes.empty());
    QVERIFY(QString::fromStdString(notes.front()).startsWith(QStringLiteral("Unable to open the adapter")));
  }

  void AutoStartNeedsRestorableInterface_data() {
    QTest::addColumn<int>("autoStart");
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("started");
    QTest::newRow("-s with interface 1") << 1 << 1 << true;
    QTest::newRow("-s with interface 0") << 1 << 0 << false;
    QTest::newRow("no -s") << 0 << 1 << false;
  }
  void AutoStartNeedsRestorableInterface() {
    QFETCH(int, autoStart);
    QFETCH(int, stored);
    QFETCH(bool, started);
    CDesktopFixture f;
    f.AddInterface("trafalyn-none0", 1);
    f.AddInterface("trafalyn-none1", 2);
    f.state->interfaceIndex = stored;
    f.state->autoStart = autoStart;
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    QCOMPARE(f.capture->TraceId(), started ? 1 : 0);
    if (!started) QVERIFY(Find<QPushButton>(page, "stop")->isChecked());
  }

  void LogToFileOffWritesFinalPassAndStartsNewFiles() {
    CDesktopFixture f;
    f.state->logDir = f.dir.path().toStdString();
    int passes = 0;
    SetFinalLogPassObserver([&passes] { ++passes; });
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    auto* box = Find<QCheckBox>(page, "logToFile");
    box->click();
    QCOMPARE(f.settings->ReadAutoLog(), std::string("1"));
    QCOMPARE(passes, 0);
    box->click();
    QCOMPARE(passes, 1);
    QCOMPARE(f.state->logToFile.load(), 0);
    QCOMPARE(f.settings->ReadAutoLog(), std::string("0"));
    // The final pass made the statistics file; the reset forgets its name.
    QVERIFY(!QDir(f.dir.path()).entryList({QStringLiteral("stats*.txt")}).isEmpty());
    QVERIFY(f.state->Model().statsFileName.empty());
    SetFinalLogPassObserver({});
  }

  void ReplayFillsModelOffTheUiThread() {
    const QString path = QStringLiteral(TRAFALYN_SOURCE_DIR "/resources/sample.pcap");
    if (!QFile::exists(path)) QSKIP("no sample capture");
    CDesktopFixture f;
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    page.ReplayFile(path, QStringLiteral("192.0.2.10"));
    QTRY_COMPARE(f.messages.size(), 1);
    QVERIFY2(f.messages[0].startsWith(QStringLiteral("Replayed ")), qPrintable(f.messages[0]));
    std::lock_guard<std::mutex> lock(f.state->trafficLock);
    QVERIFY(f.state->Model().hosts.Find(CIpAddr(198, 51, 100, 20)) != nullptr);
  }

  void ReplayRejectsBadAddresses_data() {
    QTest::addColumn<QString>("addresses");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << "" << "Please enter the local host's address.";
    QTest::newRow("three octets") << "10.0.0" << "Not an IPv4 address: 10.0.0";
    QTest::newRow("octet too big") << "10.0.0.1, 10.0.0.256" << "Not an IPv4 address: 10.0.0.256";
  }
  void ReplayRejectsBadAddresses() {
    QFETCH(QString, addresses);
    QFETCH(QString, message);
    CDesktopFixture f;
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    page.ReplayFile(QStringLiteral("/nonexistent.pcap"), addresses);
    QCOMPARE(f.messages, QStringList{message});
  }

  void StoredRulesShownSorted() {
    CDesktopFixture f;
    CFilterRuleList rules;
    rules.Append(CFilterRule(192, 168, 0, 0, 0));
    rules.Append(CFilterRule(0, 0, 0, 0, 80));
    rules.Append(CFilterRule(10, 1, 2, 3, 443));
    rules.SetMode(CFilterRuleList::kExclude);
    f.state->Model().filterRules.Replace(rules);
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    auto* list = Find<QListWidget>(page, "rules");
    QStringList shown;
    for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
    QCOMPARE(shown, (QStringList{"*.*.*.*:80", "10.1.2.3:443", "192.168.*.*:*"}));
    QCOMPARE(Find<QLabel>(page, "summary")->text(), QStringLiteral("Exclude"));
  }
};

QTEST_MAIN(SettingsPageTest)
#include "settings_page_qtest.moc"
