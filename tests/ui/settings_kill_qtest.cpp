// The program killed (SIGKILL) while it writes its settings, a thousand
// times at random moments: the file it leaves is always whole and readable,
// never empty or damaged, and holds a value for every setting it held before.
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <regex>
#include <string>
#include <thread>

#include "app/settings_store.h"

extern char** environ;

class SettingsKillTest : public QObject {
  Q_OBJECT

 private slots:
  void killedWriterNeverDamagesTheFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("Trafalyn.conf");
    {
      CSettingsStore seed(path);
      seed.WriteInterfaceKey(0);
      seed.WriteLogDir("/var/log/trafalyn/run-0");
      seed.WriteFilter("10.0.0.1:0", 0);
      seed.WriteFilterCount(0);
      seed.WriteHeaderOnly("0");
    }
    const int rounds = qEnvironmentVariableIsSet("KILL_ROUNDS")
                           ? qEnvironmentVariableIntValue("KILL_ROUNDS")
                           : 1000;
    std::mt19937 random(20261207);
    const std::regex logDir("/var/log/trafalyn/run-[0-9]+x*");
    const std::regex rule("10\\.0\\.[0-9]+\\.1:[0-9]+");
    const QByteArray file = path.toLocal8Bit();
    for (int round = 0; round < rounds; ++round) {
      char* argv[] = {const_cast<char*>(SETTINGS_WRITER_HELPER), const_cast<char*>(file.data()),
                      nullptr};
      pid_t pid = 0;
      QCOMPARE(posix_spawn(&pid, SETTINGS_WRITER_HELPER, nullptr, nullptr, argv, environ), 0);
      // Start-up takes a few milliseconds; the kill lands before, during
      // or between writes.
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
      kill(pid, SIGKILL);
      int status = 0;
      QCOMPARE(waitpid(pid, &status, 0), pid);
      QVERIFY2(WIFSIGNALED(status), "the writer ended by itself");

      QSettings raw(path, QSettings::IniFormat);
      raw.allKeys();
      QVERIFY2(raw.status() == QSettings::NoError, qPrintable(QString("round %1").arg(round)));
      CSettingsStore store(path);
      const std::string where = "round " + std::to_string(round);
      QVERIFY2(store.ReadInterfaceKey() >= 0 && store.ReadInterfaceKey() < 1000, where.c_str());
      QVERIFY2(std::regex_match(store.ReadLogDir(), logDir), where.c_str());
      QVERIFY2(std::regex_match(store.ReadFilter(0), rule), where.c_str());
      const std::string headerOnly = store.ReadHeaderOnly();
      QVERIFY2(headerOnly == "0" || headerOnly == "1", where.c_str());
    }
    // Temporary files of writes that were cut short must not pile up.
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    qInfo("files left after %d kills: %lld", rounds, static_cast<long long>(left.size()));
    QVERIFY2(left.size() <= 3, qPrintable(left.join(' ')));
  }
};

QTEST_GUILESS_MAIN(SettingsKillTest)
#include "settings_kill_qtest.moc"
