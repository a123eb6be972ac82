// The whole application on a garbage, huge or absurd settings file: it starts,
// keeps its state within bounds, shows its window and shuts down in order.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <random>

#include "engine/app_state.h"
#include "desktop/app/traffic_app.h"
#include "engine/capture_controller.h"
#include "model/traffic_model.h"
#include "desktop/window/main_dlg.h"
#include "desktop/common/message_box.h"

class HostileSettingsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

 private slots:
  void initTestCase() {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("config"))));
    SetMessageSink([](const QString&) {});
  }
  void cleanupTestCase() { SetMessageSink({}); }

  void startsAndStopsOnAnySettingsFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("numbers past int") << QByteArray(
        "[General]\nInterfaceKey=99999999999999999999\nFilerCount=4294967297\n"
        "HeaderOnly=99999999999\nAutoLog=18446744073709551617\nInclude=-0\n");
    QTest::newRow("most negative") << QByteArray(
        "[General]\nInterfaceKey=-2147483648\nFilerCount=-2147483649\nHeaderOnly=-1\n");
    QByteArray rules("[General]\nInclude=1\nFilerCount=100\n");
    const char* shapes[] = {"::::", ":", "1.2.3.4:", "999.999.999.999:99999999999",
                            "a:b:c:d:e", "*.*.*.*:*", "0.0.0.0:0", "1.2.3.4:-80",
                            "\\xff\\xfe:1", "....:80"};
    for (int i = 0; i < 100; ++i) {
      rules += "Filter" + QByteArray::number(i) + "=" +
               (i % 11 == 10 ? QByteArray(150, 'x') + ":80" : QByteArray(shapes[i % 10])) + "\n";
    }
    QTest::newRow("rule texts of every shape") << rules;
    QByteArray binary(64 * 1024, '\0');
    std::mt19937 random(5);
    for (char& c : binary) c = static_cast<char>(random());
    QTest::newRow("binary") << binary;
    QByteArray huge("[General]\n");
    for (int i = 0; huge.size() < 4 * 1024 * 1024; ++i)
      huge += "Unknown" + QByteArray::number(i) + "=" + QByteArray(100, 'v') + "\n";
    huge += "FilerCount=1\nFilter0=10.0.0.1:80\n";
    QTest::newRow("four megabytes") << huge;
    QTest::newRow("log dir nowhere, logging on")
        << QByteArray("[General]\nAutoLog=1\nLogDir=/proc/self/nonexistent/\\x01\\n\n");
  }
  void startsAndStopsOnAnySettingsFile() {
    QFETCH(QByteArray, content);
    const QString path = dir_.filePath(QStringLiteral("%1.ini").arg(QTest::currentDataTag()));
    {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(content);
    }
    CTrafficApp app;
    // "-s" too: an absurd stored interface must not start anything odd.
    app.InitInstance({QStringLiteral("--settings"), path, QStringLiteral("-s")});
    CAppState& state = app.State();
    // An index outside the list selects and starts nothing.
    if (state.InterfaceAt(state.interfaceIndex.load()) == nullptr) {
      QVERIFY(state.selectedInterface.load() == nullptr);
      QVERIFY(!app.Capture().IsCapturing());
    }
    QVERIFY(state.Model().filterRules.Snapshot().Count() <= 100);
    QVERIFY(state.headerOnly.load() == 0 || state.headerOnly.load() == 1);
    QVERIFY(app.MainWindow() != nullptr);
    app.MainWindow()->show();
    QTest::qWait(300);
    app.MainWindow()->close();
    app.ExitInstance();
    QVERIFY(app.MainWindow() == nullptr);
  }
};

QTEST_MAIN(HostileSettingsTest)
#include "hostile_settings_qtest.moc"
