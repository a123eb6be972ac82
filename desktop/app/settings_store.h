#pragma once
#include <memory>
#include <optional>
#include <string>

#include <QString>

#include "settings/setting_values.h"

class QSettings;

// The settings values in an INI file: ~/.config/Ostvane/Trafalyn.conf by
// default (honouring XDG_CONFIG_HOME), or the file given with --settings.
// Keys sit at the top level, which QSettings writes as the [General] group.
//
// Like the store it stands in for, it keeps nothing in memory: every read
// and write opens the file, does its one operation and closes it again, and
// each write reaches the disk before it returns. QSettings saves through
// QSaveFile (a synced temporary file renamed over the old one), so a crash
// mid-write leaves the previous file, never a half-written one.
//
// A write that changes nothing (the value stored already) leaves the file
// untouched, comments and all; a change rewrites it through QSettings, which
// keeps no comments, and the new file keeps the old one's mode.
//
// A file that cannot be read, or that QSettings reports as damaged, reads as
// defaults, and writes to it are dropped: a damaged file is left exactly as
// it is, for the user to repair, rather than replaced by what could be made
// of it. CanBeRead() lets start-up say so once; a write that cannot be made
// is otherwise silent.
//
// User-interface thread (and start-up) only.
class CSettingsStore : public CSettingValues {
 public:
  // The per-user file of the organisation "Ostvane", program "Trafalyn".
  CSettingsStore();
  // The INI file `filePath`.
  explicit CSettingsStore(const QString& filePath);
  ~CSettingsStore() override;

  std::optional<std::string> ReadValue(const std::string& name) override;
  void WriteValue(const std::string& name, const std::string& text) override;
  // Creates the file's directory if it is missing; the file itself appears
  // with the first write. True when the directory exists afterwards.
  bool CreateKeys() override;

  const QString& FilePath() const { return filePath_; }

  // False when the file is there but cannot be read or is not an INI file,
  // or cannot be there (its folder is missing after CreateKeys): every value
  // then reads as its default and no change is saved. A missing file in an
  // existing folder can be read: it is empty.
  bool CanBeRead() const;

  // The message start-up shows when CanBeRead() is false.
  static QString UnreadableMessage(const QString& filePath);

 private:
  // The file opened and wholly parsed, or null when it cannot be read or is
  // damaged. A missing file opens as an empty one.
  std::unique_ptr<QSettings> Open() const;
  // Deletes the empty lock file a writer killed mid-save leaves behind.
  void RemoveAbandonedLock() const;

  QString filePath_;
};
