#include <QCheckBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "engine/app_state.h"
#include "desktop/app/settings_store.h"
#include "desktop/app/traffic_app.h"
#include "engine/capture_controller.h"
#include "model/traffic_model.h"
#include "desktop/window/main_dlg.h"
#include "desktop/common/message_box.h"
#include "desktop/settings/settings_page.h"

class TrafficAppTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

  QString SettingsFile(const std::map<std::string, std::string>& values) {
    static int n = 0;
    const QString path = dir_.filePath(QStringLiteral("s%1.ini").arg(++n));
    CSettingsStore store(path);
    for (const auto& [name, text] : values) store.WriteValue(name, text);
    return path;
  }

 private slots:
  void initTestCase() { SetMessageSink([](const QString&) {}); }
  void cleanupTestCase() { SetMessageSink({}); }

  void StoredValuesRestored() {
    CTrafficApp app;
    app.InitInstance({QStringLiteral("--settings"),
                      SettingsFile({{"HeaderOnly", "1"},
                                    {"AutoLog", "1"},
                                    {"LogDir", dir_.path().toStdString()},
                                    {"InterfaceKey", "-1"},
                                    {"Include", "0"},
                                    {"FilerCount", "1"},
                                    {"Filter0", "10.*.*.*:80"}})});
    CAppState& state = app.State();
    QCOMPARE(state.headerOnly.load(), 1);
    QCOMPARE(state.logToFile.load(), 1);
    QCOMPARE(state.logDir, dir_.path().toStdString());
    QCOMPARE(state.interfaceIndex.load(), -1);
    QCOMPARE(state.Model().filterRules.SummaryText(), std::string("Exclude"));
    auto* logBox = app.MainWindow()->findChild<QCheckBox*>(QStringLiteral("logToFile"));
    QVERIFY(logBox != nullptr && logBox->isChecked());
  }

  void LogDirMustBeADirectory_data() {
    QTest::addColumn<QString>("stored");
    QTest::newRow("missing") << dir_.filePath(QStringLiteral("deleted"));
    QFile plain(dir_.filePath(QStringLiteral("plain.txt")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    QTest::newRow("a file") << plain.fileName();
  }
  void LogDirMustBeADirectory() {
    QFETCH(QString, stored);
    const std::string current = CAppState().logDir;
    CTrafficApp app;
    app.InitInstance({QStringLiteral("--settings"), SettingsFile({{"LogDir", stored.toStdString()}})});
    QCOMPARE(app.State().logDir, current);
  }

  void OnlyTheSwitchItselfAutoStarts_data() {
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("autoStart");
    QTest::newRow("-s") << QStringList{QStringLiteral("-s")} << 1;
    QTest::newRow("none") << QStringList{} << 0;
    QTest::newRow("-sx") << QStringList{QStringLiteral("-sx")} << 0;
  }
  void OnlyTheSwitchItselfAutoStarts() {
    QFETCH(QStringList, extra);
    QFETCH(int, autoStart);
    // "-1" keeps the trace from starting on a real device.
    QStringList arguments{QStringLiteral("--settings"), SettingsFile({{"InterfaceKey", "-1"}})};
    arguments += extra;
    CTrafficApp app;
    app.InitInstance(arguments);
    QCOMPARE(app.State().autoStart.load(), autoStart);
    QCOMPARE(app.Capture().TraceId(), 0);
  }

  void EmptySettingsThenOrderedIdempotentExit() {
    CTrafficApp app;
    app.InitInstance({QStringLiteral("--settings"), SettingsFile({})});
    QCOMPARE(app.State().interfaceIndex.load(), 0);
    QCOMPARE(app.State().selectedInterface.load(), nullptr);
    QCOMPARE(app.State().Model().filterRules.SummaryText(), std::string("None"));
    QVERIFY(app.MainWindow() != nullptr);
    app.MainWindow()->close();
    QCOMPARE(app.State().quit.load(), 1);
    app.ExitInstance();
    QVERIFY(app.MainWindow() == nullptr);
    app.ExitInstance();
  }
};

QTEST_MAIN(TrafficAppTest)
#include "traffic_app_qtest.moc"
