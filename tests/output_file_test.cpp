// Files that hold captured payloads: private, never through a link, never
// anything but a regular file of the user's, replaced whole or not at all.
#include "output/output_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>

#include "tests/test_support.h"

namespace {

using Mode = COutputFile::Mode;

struct FileCase {
  const char* name;
  std::function<void(const std::string& path)> prepare;
  const char* appendRefusal;   // nullptr: kAppend opens it
  const char* replaceRefusal;  // nullptr: kReplace opens it
  const char* holder = "f";    // the file that holds "old", if any
};

void Plain(const std::string& path, mode_t mode) {
  std::ofstream(path) << "old";
  chmod(path.c_str(), mode);
}

const FileCase kFileCases[] = {
    {"NewName", [](const std::string&) {}, nullptr, nullptr, nullptr},
    {"Own0644", [](const std::string& p) { Plain(p, 0644); }, nullptr, nullptr},
    {"Own0666", [](const std::string& p) { Plain(p, 0666); }, "writable by group or others", nullptr},
    {"OtherOwner",
     [](const std::string& p) {
       Plain(p, 0600);
       if (chown(p.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "needs root to give a file away";
     },
     "owned by another user", "owned by another user"},
    {"SymbolicLink",
     [](const std::string& p) {
       Plain(p + "-target", 0600);
       (void)symlink((p + "-target").c_str(), p.c_str());
     },
     "a symbolic link", "a symbolic link", "f-target"},
    {"Fifo", [](const std::string& p) { mkfifo(p.c_str(), 0600); }, "not a regular file",
     "not a regular file", nullptr},
    {"Directory", [](const std::string& p) { mkdir(p.c_str(), 0700); }, "not a regular file",
     "not a regular file", nullptr},
};

class OutputFileTest : public ::testing::TestWithParam<std::tuple<FileCase, Mode>> {};

TEST_P(OutputFileTest, UsesOnlyWhatIsTheUsers) {
  const auto& [c, mode] = GetParam();
  TempDir dir;
  const std::string path = dir.File("f");
  c.prepare(path);
  if (testing::Test::IsSkipped()) return;
  const std::vector<std::string> before = dir.Names();
  const std::string old = c.holder != nullptr ? ReadFileBytes(dir.File(c.holder)) : "";
  const char* refusal = mode == Mode::kAppend ? c.appendRefusal : c.replaceRefusal;
  COutputFile file;
  ASSERT_EQ(file.Open(path, mode), refusal == nullptr) << file.Reason();
  if (refusal != nullptr) {
    EXPECT_EQ(file.Reason(), refusal);
    EXPECT_EQ(dir.Names(), before);
    EXPECT_EQ(c.holder != nullptr ? ReadFileBytes(dir.File(c.holder)) : "", old);
    return;
  }
  ASSERT_TRUE(file.Write("new"));
  // A replacement stays out of sight until it is whole.
  EXPECT_EQ(ReadFileBytes(path), mode == Mode::kReplace ? old : old + "new");
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(ReadFileBytes(path), (mode == Mode::kAppend ? old : "") + "new");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"f"});
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputFileTest,
                         ::testing::Combine(::testing::ValuesIn(kFileCases),
                                            ::testing::Values(Mode::kAppend, Mode::kReplace)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == Mode::kAppend ? "Append" : "Replace");
                         });

// A full disk fails the write with the system's reason, and the export it
// cut short vanishes, leaving the file it was to replace.
TEST(OutputFile, FullDiskLeavesTheOldFileAndNoPart) {
  TempDir dir;
  const std::string disk = dir.File("small");
  SmallTmpfs tmpfs(disk);
  if (!tmpfs.Mounted()) GTEST_SKIP() << "needs root";
  Plain(disk + "/f", 0600);
  {
    COutputFile file;
    ASSERT_TRUE(file.Open(disk + "/f", Mode::kReplace));
    EXPECT_FALSE(file.Write(std::string(200000, 'x')));
    EXPECT_EQ(file.Reason(), "No space left on device");
  }
  EXPECT_EQ(ReadFileBytes(disk + "/f"), "old");
  EXPECT_EQ(TempDir::NamesIn(disk), std::vector<std::string>{"f"});
}

}  // namespace
