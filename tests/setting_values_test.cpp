#include "settings/setting_values.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "settings/memory_setting_values.h"

namespace {

std::string ReadNamed(CSettingValues& s, const std::string& name) {
  if (name == "HeaderOnly") return s.ReadHeaderOnly();
  if (name == "LogDir") return s.ReadLogDir();
  if (name == "AutoLog") return s.ReadAutoLog();
  if (name == "Include") return s.ReadInclude();
  return s.ReadFilter(7);
}

}  // namespace

TEST(SettingValues, MissingEmptyOrLongTextsReadAsTheDefault) {
  const struct {
    const char* name;
    std::string stored;
    bool missing;
    std::string read;
  } cases[] = {{"HeaderOnly", "", true, "0"},
               {"HeaderOnly", "", false, "0"},
               {"HeaderOnly", "1", false, "1"},
               {"Include", "", true, "0"},
               {"AutoLog", "", true, ""},
               {"LogDir", "", true, ""},
               {"LogDir", std::string(199, 'd'), false, std::string(199, 'd')},
               {"LogDir", std::string(200, 'd'), false, ""},
               {"HeaderOnly", std::string(250, '1'), false, "0"},
               {"LogDir", std::string("/tmp\0junk", 9), false, "/tmp"},
               {"HeaderOnly", std::string("\0" "1", 2), false, "0"},
               {"Filter7", "1.2.3.4:5", false, "1.2.3.4:5"}};
  for (const auto& c : cases) {
    CMemorySettingValues settings;
    if (!c.missing) settings.values[c.name] = c.stored;
    EXPECT_EQ(ReadNamed(settings, c.name), c.read) << c.name << " = \"" << c.stored << '"';
  }
}

TEST(SettingValues, NumbersAreReadLikeAtoiAndOnlyTheCountIsClamped) {
  const struct {
    const char* stored;  // nullptr: missing
    int interfaceKey;
    int filterCount;
  } cases[] = {{nullptr, 0, 0}, {"-1", -1, 0},    {" 7abc", 7, 7},
               {"abc", 0, 0},   {"100", 100, 100}, {"101", 101, 100}};
  for (const auto& c : cases) {
    CMemorySettingValues settings;
    if (c.stored != nullptr) settings.values = {{"InterfaceKey", c.stored}, {"FilerCount", c.stored}};
    EXPECT_EQ(settings.ReadInterfaceKey(), c.interfaceKey) << (c.stored ? c.stored : "missing");
    EXPECT_EQ(settings.ReadFilterCount(), c.filterCount) << (c.stored ? c.stored : "missing");
  }
}

TEST(SettingValues, WritesUseTheStoredNames) {
  CMemorySettingValues settings;
  settings.WriteInterfaceKey(-1);
  settings.WriteHeaderOnly("1");
  settings.WriteLogDir("/srv/logs");
  settings.WriteAutoLog("0");
  const std::map<std::string, std::string> expected = {
      {"InterfaceKey", "-1"}, {"HeaderOnly", "1"}, {"LogDir", "/srv/logs"}, {"AutoLog", "0"}};
  EXPECT_EQ(settings.values, expected);
}
