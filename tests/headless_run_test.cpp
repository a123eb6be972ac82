#include "cli/headless_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "output_test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kSource = TRAFALYN_SOURCE_DIR;
const std::string kSample = kSource + "/resources/sample.pcap";

std::string ReadFile(const fs::path& name) { return ReadFileBytes(name.string()); }

// The whole program in-process, so the sanitizer builds watch it too.
class HeadlessRun : public testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    std::vector<std::string_view> views(args.begin(), args.end());
    return RunHeadlessProgram(views);
  }

  ScopedTimeZone zone_{"UTC"};
  TempDir temp_;
  fs::path dir_ = temp_.Path();
};

TEST_F(HeadlessRun, SampleReplayWritesTheGoldenExports) {
  const fs::path exportFile = dir_ / "e.csv";
  const fs::path hostsFile = dir_ / "h.csv";
  fs::create_directory(dir_ / "logs");
  ASSERT_EQ(Run({"--headless", "-r", kSample, "--quiet", "--export", exportFile.string(),
                 "--hosts-export", hostsFile.string(), "--log-dir", (dir_ / "logs").string(),
                 "--hex"}),
            0);
  EXPECT_EQ(ReadFile(exportFile), ReadFile(kSource + "/tests/cli/golden/sample_export.csv"));
  EXPECT_EQ(ReadFile(hostsFile), ReadFile(kSource + "/tests/cli/golden/sample_hosts.csv"));
  int logs = 0;
  for (const auto& entry : fs::directory_iterator(dir_ / "logs")) {
    ++logs;
    EXPECT_GT(fs::file_size(entry.path()), 1000u) << entry.path();
  }
  EXPECT_EQ(logs, 2);
}

TEST_F(HeadlessRun, ExitStatuses) {
  EXPECT_EQ(Run({"--headless", "-r", kSample, "--no-tcp", "--no-udp"}), 2);
  EXPECT_EQ(Run({"--headless", "-r", (dir_ / "absent.pcap").string()}), 1);
  EXPECT_FALSE(fs::exists(dir_ / "absent.pcap"));
  EXPECT_EQ(Run({"--headless", "-r", kSample, "--quiet", "--filter", "192.0.2.*:*"}), 0);
}

TEST_F(HeadlessRun, DamagedFileStillExportsWhatCameBefore) {
  const std::string sample = ReadFile(kSample);
  const fs::path damaged = dir_ / "damaged.pcap";
  std::ofstream(damaged, std::ios::binary) << sample.substr(0, sample.size() / 2);
  const fs::path exportFile = dir_ / "e.csv";
  EXPECT_EQ(Run({"--headless", "-r", damaged.string(), "--quiet", "--export", exportFile.string()}), 1);
  const std::string csv = ReadFile(exportFile);
  EXPECT_EQ(csv.rfind("\"Date\",\"Time\",\"ConvId\"", 0), 0u);
  EXPECT_GT(std::count(csv.begin(), csv.end(), '\n'), 5);
}

TEST_F(HeadlessRun, UnwritableExportFailsTheRun) {
  EXPECT_EQ(Run({"--headless", "-r", kSample, "--quiet", "--export",
                 (dir_ / "no" / "such" / "dir.csv").string()}),
            1);
  EXPECT_EQ(Run({"--headless", "-r", kSample, "--quiet", "--hosts-export", dir_.string()}), 1);
}

}  // namespace
