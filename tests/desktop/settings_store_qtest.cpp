// The INI file behind the settings: per user by default, written whole by
// renaming a new file into place and only for a change, texts kept whatever
// they hold, and a file that cannot be used left exactly as it is, every
// value reading as its default. How values are read (numbers, lengths) is
// the settings layer's.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

#include "desktop/app/settings_store.h"

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    qFatal("cannot write %s", qPrintable(path));
  }
}

ino_t Inode(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

class SettingsStoreTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

 private slots:
  void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("config")))); }

  void defaultFileIsPerUserUnderTheMakersName() {
    CSettingsStore store;
    QCOMPARE(store.FilePath(), dir_.filePath(QStringLiteral("config/Ostvane/Trafalyn.conf")));
    QVERIFY(store.CreateKeys());
    QVERIFY(!QFileInfo::exists(store.FilePath()));  // the file comes with the first write
    store.WriteHeaderOnly("1");
    QCOMPARE(CSettingsStore().ReadHeaderOnly(), std::string("1"));
  }

  void textsSurviveTheFileFormat_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("ini specials") << QStringLiteral("/tmp/a,b;c=d \"q\" \\x [s]");
    QTest::newRow("leading at") << QStringLiteral("@ByteArray(x)");
    QTest::newRow("spaces") << QStringLiteral("  padded  ");
    QTest::newRow("Latin-1") << QStringLiteral("/home/m\u00fcller");
  }
  void textsSurviveTheFileFormat() {
    QFETCH(QString, text);
    const QString path = dir_.filePath(QStringLiteral("texts-%1.conf").arg(QTest::currentDataTag()));
    CSettingsStore(path).WriteLogDir(text.toStdString());
    QCOMPARE(QString::fromStdString(CSettingsStore(path).ReadLogDir()), text);
  }

  // Nothing changed, nothing written: comments, bytes that are not UTF-8
  // and the mode stay. A change renames a whole new file into place, with
  // the old one's mode and other groups.
  void fileIsRewrittenWholeAndOnlyForAChange_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("mode");
    QTest::newRow("same value") << QByteArray("1") << 0640;
    QTest::newRow("same value, read-only file") << QByteArray("1") << 0444;
    QTest::newRow("a change") << QByteArray("0") << 0640;
    QTest::newRow("a change, read-only file") << QByteArray("0") << 0444;
  }
  void fileIsRewrittenWholeAndOnlyForAChange() {
    QFETCH(QByteArray, value);
    QFETCH(int, mode);
    const bool change = value != "1";
    if (change && mode == 0444 && ::geteuid() != 0) QSKIP("only root writes a read-only file");
    const QString path = dir_.filePath(QStringLiteral("%1.conf").arg(QTest::currentDataTag()));
    const QByteArray content("; by hand\n[General]\nLogDir=/home/m\xfcller\nHeaderOnly=1\n[Other]\nkept=yes\n");
    WriteAll(path, content);
    const QByteArray name = QFile::encodeName(path);
    ::chmod(name.constData(), static_cast<mode_t>(mode));
    const ino_t before = Inode(path);
    CSettingsStore store(path);
    QVERIFY(store.CanBeRead());
    store.WriteHeaderOnly(value.toStdString());
    QCOMPARE(ReadAll(path) == content, !change);
    QCOMPARE(Inode(path) == before, !change);
    QCOMPARE(store.ReadHeaderOnly(), value.toStdString());
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("Other/kept").toString(), QStringLiteral("yes"));
    QCOMPARE(QDir(dir_.path()).entryList({path.section('/', -1) + '*'}, QDir::Files | QDir::Hidden).size(), 1);
    struct stat st {};
    QCOMPARE(::stat(name.constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), mode);
  }

  // Damaged contents, a directory in the file's place, a regular file in
  // the place of its directory.
  void unusableFileReadsDefaultsAndIsLeftAlone_data() {
    QTest::addColumn<QString>("place");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("open section") << "file" << QByteArray("[General\nInterfaceKey=3\nHeaderOnly=1\n");
    QTest::newRow("line without value") << "file" << QByteArray("[General]\nInterfaceKey=3\nnot a setting\n");
    QTest::newRow("damage in another group") << "file" << QByteArray("[General]\nInterfaceKey=3\n[Other]\nbroken\n");
    QByteArray binary;
    for (int i = 0; i < 512; ++i) binary.append(char((i * 37 + 11) & 0xFF));
    QTest::newRow("binary") << "file" << binary;
    QTest::newRow("a directory") << "directory" << QByteArray();
    QTest::newRow("under a regular file") << "under a file" << QByteArray();
  }
  void unusableFileReadsDefaultsAndIsLeftAlone() {
    QFETCH(QString, place);
    QFETCH(QByteArray, content);
    const QString base = dir_.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QString path = base + QStringLiteral(".conf");
    if (place == "file") WriteAll(path, content);
    if (place == "directory") QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
    if (place == "under a file") {
      WriteAll(base, "x");
      path = base + QStringLiteral("/Trafalyn.conf");
    }
    // Twice: a second store must not get a cached parse without the error.
    for (int round = 0; round < 2; ++round) {
      CSettingsStore store(path);
      QVERIFY(!store.CanBeRead());
      QCOMPARE(store.ReadInterfaceKey(), 0);
      QCOMPARE(store.ReadHeaderOnly(), std::string("0"));
      store.WriteInterfaceKey(5);
      store.WriteHeaderOnly("1");
      store.WriteLogDir("/var/tmp");
    }
    if (place == "file") QCOMPARE(ReadAll(path), content);
    if (place == "directory") QVERIFY(QFileInfo(path + QStringLiteral("/inside")).isDir());
    if (place == "under a file") {
      QVERIFY(!CSettingsStore(path).CreateKeys());
      QCOMPARE(ReadAll(base), QByteArray("x"));
    }
  }
};

QTEST_GUILESS_MAIN(SettingsStoreTest)
#include "settings_store_qtest.moc"
