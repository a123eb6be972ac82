// The application object: the desktop's arguments, the stored settings it
// turns into the engine's options, a start on any settings file however
// damaged, and a capture file named on the command line replayed at once.
#include <QAbstractButton>
#include <QCheckBox>
#include <QTabWidget>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <random>

#include "desktop/app/settings_store.h"
#include "desktop/app/traffic_app.h"
#include "desktop/common/message_box.h"
#include "desktop/common/split_page.h"
#include "desktop/window/main_dlg.h"
#include "engine/traffic_engine.h"
#include "output/value_format.h"

class TrafficAppTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QStringList messages_;

  QString SettingsFile(const QByteArray& content) {
    static int n = 0;
    const QString path = dir_.filePath(QStringLiteral("s%1.ini").arg(++n));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) qFatal("cannot write %s", qPrintable(path));
    return path;
  }

 private slots:
  void init() {
    messages_.clear();
    SetMessageSink([this](const QString& text) { messages_ << text; });
  }
  void cleanup() { SetMessageSink({}); }

  void arguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("autoStart");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("replay");
    QTest::addColumn<QString>("local");
    QTest::newRow("-s") << QStringList{"-s"} << true << "" << "" << "";
    QTest::newRow("-sx is no switch") << QStringList{"-sx"} << false << "" << "" << "";
    QTest::newRow("a settings file is no capture") << QStringList{"--settings", "a.ini"} << false << "a.ini" << "" << "";
    QTest::newRow("capture file last") << QStringList{"-s", "--local", "10.0.0.1,10.0.0.2", "x.pcap"} << true << ""
                                       << "x.pcap" << "10.0.0.1,10.0.0.2";
    QTest::newRow("capture file not last") << QStringList{"x.pcap", "-s"} << true << "" << "" << "";
  }
  void arguments() {
    QFETCH(QStringList, arguments);
    const CDesktopArguments parsed = ParseDesktopArguments(arguments);
    QTEST(parsed.autoStart, "autoStart");
    QTEST(parsed.settingsFile, "settings");
    QTEST(parsed.replayFile, "replay");
    QTEST(parsed.local, "local");
  }

  void storedSettingsReachTheEngine() {
    CTrafficApp app;
    app.InitInstance({QStringLiteral("--settings"),
                      SettingsFile("[General]\nHeaderOnly=1\nAutoLog=1\nLogDir=" + QFile::encodeName(dir_.path()) +
                                   "\nInterfaceKey=-1\nInclude=0\nFilerCount=1\nFilter0=10.*.*.*:80\n")});
    QVERIFY(app.Engine().CaptureOptions().headerOnly);
    QVERIFY(app.Engine().LogOptions().enabled);
    QCOMPARE(app.Engine().LogOptions().dir, dir_.path().toStdString());
    QCOMPARE(app.Engine().Filters().Snapshot().SummaryText(), std::string("Exclude"));
    QVERIFY(app.MainWindow()->findChild<QCheckBox*>(QStringLiteral("logToFile"))->isChecked());
  }

  // Each choice the program remembers, made in one run, is there in the
  // next. A step names a button to click ("!name": expected unchecked),
  // "tab:N" or "divider:TAB:X".
  void choicesSurviveARestart_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("a new user") << QStringList{}
                                << QStringList{"tcp", "udp", "client", "stats", "!data", "!closeToTray", "showHeaders",
                                               "showData", "!showHex", "!followSelection", "tab:0"};
    QTest::newRow("UDP off") << QStringList{"udp"} << QStringList{"tcp", "!udp"};
    QTest::newRow("TCP off") << QStringList{"tcp"} << QStringList{"!tcp", "udp"};
    QTest::newRow("server") << QStringList{"server"} << QStringList{"server"};
    QTest::newRow("stats off") << QStringList{"stats"} << QStringList{"!stats", "data"};
    QTest::newRow("hex log") << QStringList{"data", "hex"} << QStringList{"stats", "data", "hex"};
    QTest::newRow("close to tray") << QStringList{"closeToTray"} << QStringList{"closeToTray"};
    QTest::newRow("pane headers off") << QStringList{"showHeaders"} << QStringList{"!showHeaders", "showData"};
    QTest::newRow("pane hex, following") << QStringList{"showHex", "followSelection"} << QStringList{"showHex", "followSelection"};
    QTest::newRow("last tab") << QStringList{"tab:2"} << QStringList{"tab:2"};
    QTest::newRow("dividers") << QStringList{"divider:1:300", "divider:2:500"} << QStringList{"divider:1:300", "divider:2:500"};
  }
  void choicesSurviveARestart() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, after);
    const QStringList args{QStringLiteral("--settings"), SettingsFile("")};
    const auto number = [](const QString& step, int part) { return step.split(':')[part].toInt(); };
    const auto page = [](CMainDlg& w, int tab) { return qobject_cast<CSplitPage*>(w.Tabs()->widget(tab)); };
    {
      CTrafficApp app;
      app.InitInstance(args);
      CMainDlg& w = *app.MainWindow();
      w.show();
      for (const QString& step : steps) {
        if (step.startsWith("tab:")) {
          w.Tabs()->setCurrentIndex(number(step, 1));
        } else if (step.startsWith("divider:")) {
          w.Tabs()->setCurrentIndex(number(step, 1));
          page(w, number(step, 1))->MoveDivider(number(step, 2));
          emit page(w, number(step, 1))->DividerMoved();
        } else {
          w.findChild<QAbstractButton*>(step)->click();
        }
      }
      w.close();
    }
    CTrafficApp app;
    app.InitInstance(args);
    CMainDlg& w = *app.MainWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(app.Engine().CaptureOptions().udp, !steps.contains("udp"));
    for (const QString& step : after) {
      if (step.startsWith("tab:")) {
        QCOMPARE(w.Tabs()->currentIndex(), number(step, 1));
      } else if (step.startsWith("divider:")) {
        w.Tabs()->setCurrentIndex(number(step, 1));
        QCoreApplication::processEvents();
        QCOMPARE(page(w, number(step, 1))->DividerCentre(), number(step, 2));
      } else {
        const bool on = !step.startsWith('!');
        QCOMPARE(w.findChild<QAbstractButton*>(QString(step).remove('!'))->isChecked(), on);
      }
    }
  }

  void logDirMustBeADirectory_data() {
    QTest::addColumn<QString>("stored");
    QTest::newRow("missing") << dir_.filePath(QStringLiteral("deleted"));
    QTest::newRow("a file") << SettingsFile("");
  }
  void logDirMustBeADirectory() {
    QFETCH(QString, stored);
    CTrafficApp app;
    app.InitInstance({QStringLiteral("--settings"), SettingsFile("[General]\nLogDir=" + QFile::encodeName(stored) + "\n")});
    QCOMPARE(app.Engine().LogOptions().dir, QDir::currentPath().toStdString());
  }

  // "-s" too: an absurd stored interface must start nothing. A file that is
  // no INI file is named once.
  void startsAndEndsOnAnySettingsFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("readable");
    QTest::newRow("numbers past int") << QByteArray(
        "[General]\nInterfaceKey=99999999999999999999\nFilerCount=4294967297\n"
        "HeaderOnly=99999999999\nAutoLog=18446744073709551617\nInclude=-0\n") << true;
    QTest::newRow("most negative") << QByteArray("[General]\nInterfaceKey=-2147483648\nFilerCount=-2147483649\n")
                                   << true;
    QByteArray rules("[General]\nInclude=1\nFilerCount=100\n");
    const char* shapes[] = {"::::", ":", "1.2.3.4:", "999.999.999.999:99999999999", "a:b:c:d:e",
                            "*.*.*.*:*", "1.2.3.4:-80", "\\xff\\xfe:1", "....:80", "x"};
    for (int i = 0; i < 100; ++i) rules += "Filter" + QByteArray::number(i) + "=" + shapes[i % 10] + "\n";
    QTest::newRow("rule texts of every shape") << rules << true;
    QByteArray binary(64 * 1024, '\0');
    std::mt19937 random(5);
    for (char& c : binary) c = static_cast<char>(random());
    QTest::newRow("binary") << binary << false;
  }
  void startsAndEndsOnAnySettingsFile() {
    QFETCH(QByteArray, content);
    QFETCH(bool, readable);
    CTrafficApp app;
    const QString file = SettingsFile(content);
    app.InitInstance({QStringLiteral("--settings"), file, QStringLiteral("-s")});
    if (app.Engine().InterfaceAt(app.Settings().ReadInterfaceKey()) == nullptr) {
      QCOMPARE(app.Engine().Capture().TraceId(), 0);
    }
    QVERIFY(app.Engine().Filters().Snapshot().Count() <= 100);
    app.MainWindow()->show();
    QTest::qWait(200);
    app.MainWindow()->close();
    QCOMPARE(messages_.filter(QStringLiteral("Settings file ")),
             readable ? QStringList() : QStringList{CSettingsStore::UnreadableMessage(file)});
    app.ExitInstance();
    QVERIFY(app.MainWindow() == nullptr);
    app.ExitInstance();
  }

  void captureFileReplaysAtOnce_data() {
    QTest::addColumn<QStringList>("local");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the file's most frequent address") << QStringList{} << "192.0.2.10";
    QTest::newRow("--local") << QStringList{"--local", "198.51.100.7"} << "198.51.100.7";
  }
  void captureFileReplaysAtOnce() {
    QFETCH(QStringList, local);
    QFETCH(QString, expected);
    CTrafficApp app;
    app.InitInstance(QStringList{QStringLiteral("--settings"), SettingsFile(""), QStringLiteral("-s")} + local +
                     QStringList{QStringLiteral(TRAFALYN_SOURCE_DIR "/resources/sample.pcap")});
    QVERIFY(app.Engine().ShowsReplay());
    QCOMPARE(app.Engine().Capture().TraceId(), 0);  // the file wins over -s
    const std::vector<CIpAddr>& addresses = app.Engine().Session()->Source().local;
    QCOMPARE(addresses.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(FormatAddress(addresses[0])), expected);
    QTRY_COMPARE_WITH_TIMEOUT(messages_.size(), 1, 30000);
    QVERIFY2(messages_[0].startsWith(QStringLiteral("Replayed ")), qPrintable(messages_[0]));
  }
};

QTEST_MAIN(TrafficAppTest)
#include "traffic_app_qtest.moc"
