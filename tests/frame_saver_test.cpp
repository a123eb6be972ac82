// Saving frames: the ring of files, the rules for the file's name, a full
// disk, and libpcap reading every saved frame back.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "flows/frame_saver.h"
#include "test_support.h"

namespace {

// Frame `i`: its number in the first bytes, then a fill; stamped i seconds.
std::vector<uint8_t> Frame(uint32_t i, std::size_t size) {
  std::vector<uint8_t> f(size, static_cast<uint8_t>(i * 7));
  std::memcpy(f.data(), &i, sizeof i);
  return f;
}

void Save(CFrameSaver& saver, uint32_t i, std::size_t size) {
  const std::vector<uint8_t> f = Frame(i, size);
  pcap_pkthdr h{};
  h.ts.tv_sec = 1700000000 + i;
  h.ts.tv_usec = i;
  h.caplen = static_cast<bpf_u_int32>(size);
  h.len = static_cast<bpf_u_int32>(size + 100);
  saver.Save(h, f.data());
}

// The frame numbers in a capture file, checking each frame whole; empty
// when libpcap cannot read it.
std::vector<uint32_t> ReadBack(const std::string& path, std::size_t size) {
  std::vector<uint32_t> numbers;
  char err[PCAP_ERRBUF_SIZE];
  pcap_t* p = pcap_open_offline(path.c_str(), err);
  if (!p) return numbers;
  EXPECT_EQ(pcap_datalink(p), DLT_EN10MB);
  pcap_pkthdr* h;
  const u_char* data;
  while (pcap_next_ex(p, &h, &data) == 1) {
    uint32_t i;
    std::memcpy(&i, data, sizeof i);
    EXPECT_EQ(h->ts.tv_sec, 1700000000 + i);
    EXPECT_EQ(h->ts.tv_usec, static_cast<suseconds_t>(i));
    EXPECT_EQ(h->len, size + 100);
    EXPECT_EQ(std::vector<uint8_t>(data, data + h->caplen), Frame(i, size)) << "frame " << i;
    numbers.push_back(i);
  }
  pcap_close(p);
  return numbers;
}

CFrameSaver::Options To(const std::string& path) {
  CFrameSaver::Options o;
  o.path = path;
  return o;
}

std::vector<uint32_t> Range(uint32_t first, uint32_t last) {
  std::vector<uint32_t> v;
  for (uint32_t i = first; i <= last; ++i) v.push_back(i);
  return v;
}

TEST(FrameSaver, RingKeepsTheNewestFilesInOrder) {
  TempDir dir;
  const std::string path = dir.File("trace.pcap");
  CFrameSaver::Options o = To(path);
  o.limitMiB = 1;
  o.keepFiles = 3;
  CFrameSaver saver(o);
  ASSERT_TRUE(saver.Open());
  // 24 + 17 * (16 + 60000) bytes fit in 1 MiB; the 18th frame opens a new file.
  for (uint32_t i = 0; i < 60; ++i) Save(saver, i, 60000);
  saver.Close();
  EXPECT_EQ(saver.FramesSaved(), 60u);
  EXPECT_EQ(ReadBack(path, 60000), Range(51, 59));
  EXPECT_EQ(ReadBack(path + ".1", 60000), Range(34, 50));
  EXPECT_EQ(ReadBack(path + ".2", 60000), Range(17, 33));
  EXPECT_FALSE(FileExists(path + ".3"));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(FrameSaver, FileRules) {
  using Before = std::function<int(const std::string& path, const std::string& other)>;
  const struct {
    const char* name;
    Before before;
    bool opens;
  } cases[] = {
      {"new file", [](const auto&, const auto&) { return 0; }, true},
      {"symbolic link in its place", [](const auto& p, const auto& o) { return symlink(o.c_str(), p.c_str()); }, false},
      {"existing file of ours", [](const auto& p, const auto&) { WriteFileBytes(p, "old frames"); return 0; }, true},
      {"file with a second hard link", [](const auto& p, const auto& o) { return link(o.c_str(), p.c_str()); }, true},
      {"directory", [](const auto& p, const auto&) { return mkdir(p.c_str(), 0700); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("trace.pcap"), other = dir.File("other");
    WriteFileBytes(other, "keep me");
    ASSERT_EQ(c.before(path, other), 0);
    CFrameSaver saver(To(path));
    std::string error;
    EXPECT_EQ(saver.Open(&error), c.opens) << error;
    EXPECT_EQ(error.empty(), c.opens);
    Save(saver, 1, 100);
    saver.Close();
    // Nothing is ever written through another name.
    EXPECT_EQ(ReadFileBytes(other), "keep me");
    if (c.opens) {
      EXPECT_EQ(ReadBack(path, 100), Range(1, 1));
      struct stat st {};
      ASSERT_EQ(lstat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0600u);
      EXPECT_EQ(st.st_nlink, 1u);
    }
  }
}

TEST(FrameSaver, FullDiskStopsSavingWithOneMessage) {
  TempDir dir;
  SmallTmpfs disk(dir.File("disk"));
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  std::vector<std::string> messages;
  CFrameSaver::Options o = To(dir.File("disk/trace.pcap"));
  o.onStopped = [&](const std::string& m) { messages.push_back(m); };
  CFrameSaver saver(o);
  ASSERT_TRUE(saver.Open());
  for (uint32_t i = 0; i < 200; ++i) Save(saver, i, 1000);  // 200 KB onto 64 KiB
  saver.Close();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("No space left on device"), std::string::npos) << messages[0];
  EXPECT_FALSE(saver.Saving());
  EXPECT_GT(saver.FramesLost(), 0u);
  EXPECT_EQ(saver.FramesSaved() + saver.FramesLost(), 200u);
}

}  // namespace
