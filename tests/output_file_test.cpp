// Files that hold captured payloads: private, never through a link, never
// anything but a regular file, and a full disk is a failed write.
#include "output/output_file.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "tests/test_support.h"

namespace {

struct FileCase {
  const char* name;
  std::function<void(const std::string& path)> prepare;
  COutputFile::Mode mode;
  bool opens;
};

const FileCase kFileCases[] = {
    {"NewFile", [](const std::string&) {}, COutputFile::Mode::kCreate, true},
    {"ExistingForCreate", [](const std::string& p) { std::ofstream(p) << "x"; },
     COutputFile::Mode::kCreate, false},
    {"SymbolicLink", [](const std::string& p) { (void)symlink("/tmp", p.c_str()); },
     COutputFile::Mode::kAppend, false},
    {"Fifo", [](const std::string& p) { mkfifo(p.c_str(), 0600); }, COutputFile::Mode::kTruncate, false},
    {"Directory", [](const std::string& p) { mkdir(p.c_str(), 0700); }, COutputFile::Mode::kAppend, false},
};

class OutputFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(OutputFileTest, OpensOnlyWhatItShould) {
  TempDir dir;
  const std::string path = dir.File("f");
  GetParam().prepare(path);
  COutputFile file;
  EXPECT_EQ(file.Open(path, GetParam().mode), GetParam().opens);
  if (!GetParam().opens) {
    EXPECT_NE(file.LastError(), 0);
    return;
  }
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputFileTest, ::testing::ValuesIn(kFileCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OutputFile, FullDiskFailsTheWrite) {
  TempDir dir;
  const std::string disk = dir.File("small");
  SmallTmpfs tmpfs(disk);
  if (!tmpfs.Mounted()) GTEST_SKIP() << "needs root";
  COutputFile file;
  ASSERT_TRUE(file.Open(disk + "/f", COutputFile::Mode::kTruncate));
  EXPECT_FALSE(file.Write(std::string(200000, 'x')));
  EXPECT_EQ(file.LastError(), ENOSPC);
  file.Close();
}

}  // namespace
