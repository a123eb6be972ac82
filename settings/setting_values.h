#pragma once
#include <cstddef>
#include <optional>
#include <string>

// The program's persistent settings: named text values in one store per
// user. Subclasses supply the raw access (an INI file in the desktop
// program, a map in tests); the named operations here apply the rules every
// reader shares: a value that is missing, empty or too long (200 bytes or
// more with its terminator counted, i.e. 200 characters or more) reads as
// its default, text ends at the first zero byte, numbers are read as atoi
// reads them.
//
// Not thread-safe: the user-interface thread (and start-up) only. Values
// are read once at start-up and written at the moment the user changes
// them; nothing is kept in memory here.
class CSettingValues {
 public:
  // Room for a value with its terminating zero; longer values read as their
  // default.
  static constexpr std::size_t kValueBufferSize = 200;
  // At most this many filter rules are stored.
  static constexpr int kMaxFilterCount = 100;
  // The memory limit in mebibytes: its default and its range.
  static constexpr int kDefaultMemoryLimitMib = 512;
  static constexpr int kMaxMemoryLimitMib = 1 << 20;

  virtual ~CSettingValues();

  // The stored text of `name`, or nothing when the value is missing or the
  // store cannot be read at all (both read as the default).
  virtual std::optional<std::string> ReadValue(const std::string& name) = 0;
  // Stores `text` under `name` at once. A store that cannot be written
  // drops the write silently.
  virtual void WriteValue(const std::string& name, const std::string& text) = 0;
  // Makes sure the store can be created; true when it exists or was made.
  // Writes no value. Callers need not look at the result.
  virtual bool CreateKeys() { return true; }

  // `InterfaceKey`: the zero-based interface index, -1 for none. Default 0;
  // not clamped.
  int ReadInterfaceKey();
  void WriteInterfaceKey(int index);
  // `HeaderOnly`: "1" or "0"; default "0".
  std::string ReadHeaderOnly();
  void WriteHeaderOnly(const std::string& text);
  // `LogDir`: a directory path; default empty.
  std::string ReadLogDir();
  void WriteLogDir(const std::string& text);
  // `AutoLog`: "1" or "0"; default empty.
  std::string ReadAutoLog();
  void WriteAutoLog(const std::string& text);
  // `Include`: "1" for Include mode, "0" for Exclude; default "0".
  std::string ReadInclude();
  void WriteInclude(const std::string& text);
  // `FilerCount` (sic, the stored name): default 0, clamped to 0 .. 100.
  int ReadFilterCount();
  void WriteFilterCount(int count);
  // `ReverseLookups`: "1" to ask DNS servers for host names during live
  // traces, "0" not to; default "1".
  std::string ReadReverseLookups();
  void WriteReverseLookups(const std::string& text);
  // `MemoryLimit`: the payload the packet records may hold, in mebibytes;
  // default 512, and a value outside 1 .. kMaxMemoryLimitMib reads as it.
  int ReadMemoryLimit();
  void WriteMemoryLimit(int mebibytes);
  // `Filter<index>` ("Filter0", "Filter1", ...): rule text; default empty.
  std::string ReadFilter(int index);
  void WriteFilter(const std::string& text, int index);

  // The value `name` with the reading rules above applied.
  std::string ReadText(const std::string& name, const std::string& fallback);

  // An on/off value of the program's own: "1" is on, any other text off; a
  // missing or empty value reads as `fallback`. Written as "1" or "0".
  bool ReadSwitch(const std::string& name, bool fallback);
  void WriteSwitch(const std::string& name, bool on);
  // A number of the program's own, read as atoi reads it; a missing or
  // empty value reads as `fallback`.
  int ReadNumber(const std::string& name, int fallback);
  void WriteNumber(const std::string& name, int value);
};
