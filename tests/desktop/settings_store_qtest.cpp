#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include "desktop/app/settings_store.h"
#include "settings/filter_rule_store.h"

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

ino_t Inode(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

void VerifyDefaults(CSettingsStore& store) {
  QCOMPARE(store.ReadInterfaceKey(), 0);
  QCOMPARE(store.ReadHeaderOnly(), std::string("0"));
  QCOMPARE(store.ReadLogDir(), std::string());
  QCOMPARE(store.ReadAutoLog(), std::string());
  QCOMPARE(store.ReadInclude(), std::string("0"));
  QCOMPARE(store.ReadFilterCount(), 0);
  QCOMPARE(store.ReadFilter(0), std::string());
  const CFilterRuleList rules = LoadFilterRules(store);
  QCOMPARE(rules.Count(), std::size_t{0});
  QCOMPARE(rules.Mode(), CFilterRuleList::kExclude);
}

void WriteEverything(CSettingsStore& store) {
  store.WriteInterfaceKey(5);
  store.WriteHeaderOnly("1");
  store.WriteAutoLog("1");
  store.WriteLogDir("/var/tmp");
  CFilterRuleList rules;
  rules.Append(CFilterRule(0, 0, 0, 0, 80));
  SaveFilterRules(store, rules);
}

}  // namespace

class SettingsStoreTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Path(const QString& name) const { return dir_.filePath(name); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath("config")));
  }

  void defaultFileIsPerUserUnderTheMakersName() {
    CSettingsStore store;
    QCOMPARE(store.FilePath(), dir_.filePath("config/Ostvane/Trafalyn.conf"));
    QVERIFY(store.CreateKeys());
    QVERIFY(QFileInfo(dir_.filePath("config/Ostvane")).isDir());
    QVERIFY(!QFileInfo::exists(store.FilePath()));
    store.WriteHeaderOnly("1");
    QCOMPARE(store.ReadHeaderOnly(), std::string("1"));
  }

  void missingOrEmptyFileReadsDefaults_data() {
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing") << false;
    QTest::newRow("empty") << true;
  }
  void missingOrEmptyFileReadsDefaults() {
    QFETCH(bool, exists);
    const QString path = Path(exists ? "empty.conf" : "missing.conf");
    if (exists) WriteAll(path, "");
    CSettingsStore store(path);
    VerifyDefaults(store);
    QCOMPARE(QFileInfo::exists(path), exists);
  }

  void numbersAreReadLikeAtoi_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("interfaceKey");
    QTest::addColumn<int>("filterCount");
    QTest::newRow("negative") << QByteArray("[General]\nInterfaceKey=-1\nFilerCount=-3\n") << -1 << 0;
    QTest::newRow("too many") << QByteArray("[General]\nInterfaceKey=2\nFilerCount=250\n") << 2 << 100;
    QTest::newRow("trailing text") << QByteArray("[General]\nInterfaceKey=3x\nFilerCount=7 rules\n") << 3 << 7;
    QTest::newRow("no digits") << QByteArray("[General]\nInterfaceKey=one\nFilerCount=\n") << 0 << 0;
  }
  void numbersAreReadLikeAtoi() {
    QFETCH(QByteArray, content);
    QFETCH(int, interfaceKey);
    QFETCH(int, filterCount);
    // One file per row: QSettings caches a same-size rewrite within a millisecond.
    const QString path = Path(QString("numbers-%1.conf").arg(QTest::currentDataTag()));
    WriteAll(path, content);
    CSettingsStore store(path);
    QCOMPARE(store.ReadInterfaceKey(), interfaceKey);
    QCOMPARE(store.ReadFilterCount(), filterCount);
  }

  void writesReachTheFileAtOnce() {
    const QString path = Path("immediate.conf");
    CSettingsStore store(path);
    store.WriteInterfaceKey(-1);
    store.WriteHeaderOnly("1");
    QSettings other(path, QSettings::IniFormat);
    QCOMPARE(other.value("InterfaceKey").toString(), QString("-1"));
    QCOMPARE(other.value("HeaderOnly").toString(), QString("1"));
    QVERIFY(ReadAll(path).contains("[General]"));
    store.WriteAutoLog("0");
    other.sync();
    QCOMPARE(other.value("AutoLog").toString(), QString("0"));
  }

  void textsSurviveTheFileFormat_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("kept");
    QTest::newRow("ini specials") << QString("/tmp/a,b;c=d \"q\" \\x [s]") << true;
    QTest::newRow("leading at") << QString("@ByteArray(x)") << true;
    QTest::newRow("spaces") << QString("  padded  ") << true;
    QTest::newRow("longest kept") << QString(199, 'd') << true;
    QTest::newRow("over-long reads as default") << QString(200, 'd') << false;
  }
  void textsSurviveTheFileFormat() {
    QFETCH(QString, text);
    QFETCH(bool, kept);
    const QString path = Path(QString("texts-%1.conf").arg(QTest::currentDataTag()));
    CSettingsStore(path).WriteLogDir(text.toStdString());
    QCOMPARE(QString::fromStdString(CSettingsStore(path).ReadLogDir()), kept ? text : QString());
  }

  void damagedFileReadsDefaultsAndIsNeverRewritten_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("open section") << QByteArray("[General\nInterfaceKey=3\nHeaderOnly=1\n");
    QTest::newRow("line without value")
        << QByteArray("[General]\nInterfaceKey=3\nthis is not a setting\n");
    QTest::newRow("damage in another group")
        << QByteArray("[General]\nInterfaceKey=3\n[Other]\nbroken line\n");
    QByteArray binary;
    for (int i = 0; i < 512; ++i) binary.append(char((i * 37 + 11) & 0xFF));
    QTest::newRow("binary") << binary;
  }
  void damagedFileReadsDefaultsAndIsNeverRewritten() {
    QFETCH(QByteArray, content);
    const QString path = Path(QString("damaged-%1.conf").arg(QTest::currentDataTag()));
    WriteAll(path, content);
    CSettingsStore store(path);
    VerifyDefaults(store);
    WriteEverything(store);
    QCOMPARE(ReadAll(path), content);
    // A second store must not get QSettings' cached parse without the error.
    CSettingsStore again(path);
    QCOMPARE(again.ReadInterfaceKey(), 0);
    WriteEverything(again);
    QCOMPARE(ReadAll(path), content);
  }

  void unreadableFileReadsDefaultsAndIsKept() {
    if (::geteuid() == 0) QSKIP("permissions do not bind root");
    const QString path = Path("unreadable.conf");
    const QByteArray content("[General]\nInterfaceKey=4\n");
    WriteAll(path, content);
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    CSettingsStore store(path);
    VerifyDefaults(store);
    WriteEverything(store);
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(ReadAll(path), content);
  }

  void directoryInPlaceOfTheFileIsLeftAlone() {
    const QString path = Path("is_a_dir.conf");
    QVERIFY(QDir().mkpath(path + "/inside"));
    CSettingsStore store(path);
    VerifyDefaults(store);
    WriteEverything(store);
    QVERIFY(QFileInfo(path + "/inside").isDir());
  }

  void unwritablePlaceIsSilent() {
    // The directory would have to be a regular file: unwritable even for root.
    const QString blocker = Path("blocker");
    WriteAll(blocker, "x");
    CSettingsStore store(blocker + "/Ostvane/Trafalyn.conf");
    QVERIFY(!store.CreateKeys());
    WriteEverything(store);
    VerifyDefaults(store);
    QCOMPARE(ReadAll(blocker), QByteArray("x"));
  }

  void writeReplacesTheFileWholesale() {
    const QString path = Path("atomic.conf");
    WriteAll(path, "[General]\nAutoLog=1\n\n[Other]\nkept=yes\n");
    const ino_t before = Inode(path);
    CSettingsStore store(path);
    store.WriteHeaderOnly("1");
    QVERIFY(Inode(path) != before);  // renamed into place, not rewritten
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("Other/kept").toString(), QString("yes"));
    QCOMPARE(store.ReadAutoLog(), std::string("1"));
    const QStringList left = QDir(dir_.path()).entryList({"atomic.conf*"}, QDir::Files | QDir::Hidden);
    QCOMPARE(left, QStringList{"atomic.conf"});
  }

  void filterRulesRoundTripThroughTheFile() {
    const QString path = Path("rules.conf");
    CSettingsStore store(path);
    CFilterRuleList five;
    for (int i = 1; i <= 5; ++i) five.Append(CFilterRule(10, 0, 0, static_cast<uint8_t>(i), 0));
    SaveFilterRules(store, five);
    CFilterRuleList rules;
    rules.SetMode(CFilterRuleList::kInclude);
    rules.Append(CFilterRule(192, 168, 0, 0, 0));
    rules.Append(CFilterRule(0, 0, 0, 0, 443));
    rules.Append(CFilterRule(10, 1, 2, 3, 65535));
    SaveFilterRules(store, rules);
    CSettingsStore fresh(path);
    QVERIFY(LoadFilterRules(fresh) == rules);
    QSettings raw(path, QSettings::IniFormat);
    QCOMPARE(raw.value("FilerCount").toString(), QString("3"));
    QCOMPARE(raw.value("Include").toString(), QString("1"));
    QCOMPARE(raw.value("Filter0").toString(), QString("192.168.*.*:*"));
    QVERIFY(raw.contains("Filter4"));
    QCOMPARE(raw.value("Filter4").toString(), QString());
    QVERIFY(!raw.contains("Filter5"));
    CActiveFilterRules active;
    LoadFilterRules(fresh, active);
    QCOMPARE(active.SummaryText(), std::string("Include"));
    QVERIFY(active.Passes(CIpAddr(1, 1, 1, 1), 443));
    QVERIFY(!active.Passes(CIpAddr(1, 1, 1, 1), 80));
  }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "settings_store_qtest.moc"
