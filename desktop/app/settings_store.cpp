#include "desktop/app/settings_store.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include <sys/stat.h>

#include <mutex>
#include <set>
#include <tuple>

namespace {

// Where QSettings keeps the organisation's per-user files, with the ".conf"
// ending of the platform's own format (IniFormat would name it ".ini").
QString DefaultFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         "/Ostvane/Trafalyn.conf";
}

// QSettings keeps parsed files in a process-wide cache and reports a parse
// error only to the instance that parsed; later instances reuse the result
// without re-reading while the file's size and modification time stay the
// same, and see no error. So the verdict is kept here under the very same
// identity, and a damaged file stays damaged until it changes on disk.
using CFileVersion = std::tuple<QString, qint64, qint64>;  // path, size, ms

CFileVersion VersionOf(const QString& path) {
  const QFileInfo info(path);
  return {info.absoluteFilePath(), info.size(),
          info.exists() ? info.lastModified().toMSecsSinceEpoch() : 0};
}

std::mutex damagedLock;
std::set<CFileVersion> damagedFiles;

bool KnownDamaged(const CFileVersion& version) {
  std::lock_guard lock(damagedLock);
  return damagedFiles.count(version) != 0;
}

void NoteDamaged(const CFileVersion& version) {
  std::lock_guard lock(damagedLock);
  damagedFiles.insert(version);
}

std::string ValueText(const QVariant& value) {
  // A hand-edited value with unquoted commas comes back as a list.
  if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(',').toStdString();
  return value.toString().toStdString();
}

}  // namespace

CSettingsStore::CSettingsStore() : filePath_(DefaultFilePath()) {}

CSettingsStore::CSettingsStore(const QString& filePath) : filePath_(filePath) {}

CSettingsStore::~CSettingsStore() = default;

std::unique_ptr<QSettings> CSettingsStore::Open() const {
  // A directory or device where the file should be, or a file this user
  // may not read, reads as empty to QSettings; treat it as unreadable so
  // that nothing replaces it.
  const QFileInfo info(filePath_);
  if (info.exists() && (!info.isFile() || !info.isReadable())) return nullptr;
  const CFileVersion version = VersionOf(filePath_);
  if (KnownDamaged(version)) return nullptr;
  auto settings = std::make_unique<QSettings>(filePath_, QSettings::IniFormat);
  // The default, stated because the file's safety depends on it: without
  // it QSettings may fall back to rewriting the file in place.
  settings->setAtomicSyncRequired(true);
  // QSettings parses each group only when it is first used; a bad line in
  // any of them must count, since a write would rewrite the whole file.
  settings->allKeys();
  if (settings->status() == QSettings::FormatError) {
    NoteDamaged(version);
    return nullptr;
  }
  if (settings->status() != QSettings::NoError) return nullptr;
  return settings;
}

std::optional<std::string> CSettingsStore::ReadValue(const std::string& name) {
  const std::unique_ptr<QSettings> settings = Open();
  if (!settings) return std::nullopt;
  const QVariant value = settings->value(QString::fromStdString(name));
  if (!value.isValid()) return std::nullopt;
  return ValueText(value);
}

bool CSettingsStore::CanBeRead() const {
  const QFileInfo info(filePath_);
  if (!info.exists()) return QFileInfo(info.absolutePath()).isDir();
  return Open() != nullptr;
}

void CSettingsStore::WriteValue(const std::string& name, const std::string& text) {
  RemoveAbandonedLock();
  const std::unique_ptr<QSettings> settings = Open();
  if (!settings) return;
  // QSettings rewrites the whole file, dropping its comments and whatever
  // bytes it could not read as text: a value that stays the same leaves
  // the file as it is.
  const QString key = QString::fromStdString(name);
  const QVariant stored = settings->value(key);
  if (stored.isValid() && ValueText(stored) == text) return;
  // The new file takes the place of the old one and keeps the mode the user
  // gave it. Qt's permission flags would fold the caller's own access into
  // the owner's bits, so the mode is read and set as it is.
  const QByteArray file = QFile::encodeName(filePath_);
  struct stat before {};
  const bool existed = ::stat(file.constData(), &before) == 0;
  settings->setValue(key, QString::fromStdString(text));
  settings->sync();
  struct stat after {};
  if (existed && ::stat(file.constData(), &after) == 0 &&
      (after.st_mode & 07777) != (before.st_mode & 07777)) {
    ::chmod(file.constData(), before.st_mode & 07777);
  }
}

void CSettingsStore::RemoveAbandonedLock() const {
  // QSettings guards each save with "<file>.lock", which its owner fills
  // with its process id the moment it creates it. A program killed between
  // the two leaves an empty lock that nobody can prove stale, and the next
  // save would wait half a minute for it to age: a frozen window after a
  // crash. An empty lock file is always such a leftover.
  const QFileInfo lock(filePath_ + QStringLiteral(".lock"));
  if (lock.isFile() && lock.size() == 0) QFile::remove(lock.filePath());
}

bool CSettingsStore::CreateKeys() {
  return QDir().mkpath(QFileInfo(filePath_).absolutePath());
}

QString CSettingsStore::UnreadableMessage(const QString& filePath) {
  return QStringLiteral("Settings file %1 could not be read; using defaults, and changes will not be saved")
      .arg(filePath);
}
