// The durable writer: what stands under the real name is always a whole file, a failure leaves
// nothing behind and is told with its errno, and the temporaries of a killed program are found
// again by their name and nothing else is.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/durable_file.h"
#include "platform/profile.h"
#include "tests/fs_faults.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

struct DurableTest : ::testing::Test {
  QTemporaryDir dir;
  fs::path folder;
  void SetUp() override { folder = dir.path().toStdString(); }
  void TearDown() override { ClearDurableFaults(); }
};

TEST_F(DurableTest, TheTemporaryIsShortSoALongestNameSaves) {
  const fs::path target = folder / std::string(255, 'n');
  DurableFile f(target);
  ASSERT_TRUE(f.Open()) << f.Error();
  // Beside the target, of the program's own pattern, whatever the target's name.
  EXPECT_EQ(f.TemporaryPath().parent_path(), folder);
  EXPECT_TRUE(IsDurableTemporaryName(f.TemporaryPath().filename().string())) << f.TemporaryPath();
  ASSERT_TRUE(f.Write("first", 5) && f.Commit());
  ASSERT_TRUE(WriteFileDurably(target, Bytes("second")));
  EXPECT_EQ(ReadBytes(target), "second");
  EXPECT_EQ(Names(folder), std::set<std::string>{target.filename().string()});

  // The layer files and colour matrices save the same way.
  const fs::path ini = folder / (std::string(251, 'p') + ".ini");
  CProfileFile profile(ini);
  ASSERT_TRUE(profile.WriteString(u"S", u"k", u"v"));
  EXPECT_TRUE(profile.Save());
  EXPECT_EQ(ReadBytes(ini), "[S]\r\nk=v\r\n");
}

// A full disk, at a write or only at the close: the old file stays, no temporary is left, the
// errno is the disk's, and this thread's last file error says it too.
TEST_F(DurableTest, AFailureKeepsTheOldFileLeavesNothingAndSaysWhy) {
  const fs::path target = folder / "Capture.bmp";
  ASSERT_TRUE(WriteFileDurably(target, Bytes("old")));
  const std::string big(3 << 20, 'x');  // beyond the writer's buffer: fails in Write, not only at Commit
  for (bool atClose : {false, true}) {
    SCOPED_TRACE(atClose ? "close" : "write");
    DurableFaults faults;
    faults.freeBytes = atClose ? -1 : 1000;
    faults.failClose = atClose;
    SetDurableFaults(faults);
    ClearLastFileError();
    int error = 0;
    EXPECT_FALSE(WriteFileDurably(target, Bytes(big), &error));
    EXPECT_EQ(error, ENOSPC);
    EXPECT_EQ(LastFileError(), ENOSPC);
    EXPECT_EQ(ReadBytes(target), "old");
    EXPECT_EQ(Names(folder), std::set<std::string>{"Capture.bmp"});
    ClearDurableFaults();
  }
  // A writer given up before its commit leaves nothing either.
  {
    DurableFile abandoned(folder / "other.bmp");
    ASSERT_TRUE(abandoned.Open() && abandoned.Write(Bytes(big)));
  }
  EXPECT_EQ(Names(folder), std::set<std::string>{"Capture.bmp"});
}

TEST_F(DurableTest, ACommitThatMustNotReplaceNeverDoes) {
  const fs::path target = folder / "Report.docx";
  ASSERT_TRUE(WriteFileDurably(target, Bytes("the operator's report")));
  DurableFile f(target);
  ASSERT_TRUE(f.Open() && f.Write("new", 3));
  EXPECT_FALSE(f.Commit(false));
  EXPECT_EQ(f.Error(), EEXIST);
  EXPECT_EQ(ReadBytes(target), "the operator's report");
  EXPECT_EQ(Names(folder), std::set<std::string>{"Report.docx"});

  DurableFile fresh(folder / "Report_2.docx");
  ASSERT_TRUE(fresh.Open() && fresh.Write("new", 3));
  EXPECT_TRUE(fresh.Commit(false));
  EXPECT_EQ(ReadBytes(folder / "Report_2.docx"), "new");
}

// A writer that goes back to patch a header (a zip entry's sizes) over data still in the buffer
// and over data already on the disk.
TEST_F(DurableTest, SeekPatchesWhatWasWritten) {
  const fs::path target = folder / "patched.bin";
  std::string expected(3 << 20, '.');
  DurableFile f(target);
  ASSERT_TRUE(f.Open());
  ASSERT_TRUE(f.Write(expected.data(), expected.size()));
  EXPECT_EQ(f.Tell(), expected.size());
  ASSERT_TRUE(f.Seek(10) && f.Write("head", 4));             // long since drained
  EXPECT_EQ(f.Tell(), 14u);
  ASSERT_TRUE(f.Seek(expected.size()) && f.Write("tail", 4));  // the end again
  ASSERT_TRUE(f.Seek(expected.size() + 1) && f.Write("A", 1));  // over what was just written
  ASSERT_TRUE(f.Commit());
  expected.replace(10, 4, "head");
  expected += "tAil";
  EXPECT_EQ(ReadBytes(target), expected);
}

void Age(const fs::path& p, int seconds) {
  timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST_F(DurableTest, TheSweepTakesOnlyStaleTemporariesOfThisProgram) {
  const std::vector<std::string> stale = {".q7v-aB3xY9.tmp", "registry.dat.Xy12Z9", "registry.dat.tmp"};
  const std::vector<std::string> kept = {
      ".q7v-aB3xY.tmp",      // too short
      ".q7v-aB3x-9.tmp",     // not the random characters
      ".q7v-aB3xY9.tmp.bmp", // another name
      "photo.bmp.Backup",    // a name of the operator's that looks like an old temporary
      "registry.dat",        // the store itself
      "registry.dat.damaged-20240101-120000",
      "xregistry.dat.Xy12Z9"};
  for (const std::string& n : stale) std::ofstream(folder / n) << "left by a kill";
  for (const std::string& n : kept) std::ofstream(folder / n) << "keep";
  for (const auto& e : fs::directory_iterator(folder)) Age(e.path(), 60);
  fs::create_directory(folder / ".q7v-dir123.tmp");  // not a file
  Age(folder / ".q7v-dir123.tmp", 60);
  std::ofstream(folder / ".q7v-nOw123.tmp") << "a save under way since the start";

  const std::int64_t start = FileClockNowNs() - 30'000'000'000;  // 30 s ago
  const std::vector<std::string> stems = {"registry.dat"};
  const SweepResult r = SweepStaleTemporaries(folder, start, stems);
  EXPECT_EQ(r.removed, 3);
  EXPECT_EQ(r.bytes, 3 * std::string("left by a kill").size());
  std::set<std::string> expected(kept.begin(), kept.end());
  expected.insert({".q7v-dir123.tmp", ".q7v-nOw123.tmp"});
  EXPECT_EQ(Names(folder), expected);

  // Without the stems (the operator's own folders) the old names are no one's to remove.
  std::ofstream(folder / "registry.dat.Ab12Cd") << "x";
  Age(folder / "registry.dat.Ab12Cd", 60);
  EXPECT_EQ(SweepStaleTemporaries(folder, start).removed, 0);
  EXPECT_EQ(SweepStaleTemporaries(folder / "missing", start).removed, 0);
}

TEST_F(DurableTest, RealFullAndReadOnlyFileSystems) {
  fs_faults::SmallFileSystem small(folder / "small", 64);
  ASSERT_TRUE(small.mounted) << "mounting needs root (CAP_SYS_ADMIN): run the tests as root, as scripts/test.sh does";
  const fs::path target = small.path / "Capture.bmp";
  ASSERT_TRUE(WriteFileDurably(target, Bytes("old")));
  int error = 0;
  EXPECT_FALSE(WriteFileDurably(target, Bytes(std::string(1 << 20, 'x')), &error));
  EXPECT_EQ(error, ENOSPC);
  EXPECT_EQ(ReadBytes(target), "old");
  EXPECT_EQ(Names(small.path), std::set<std::string>{"Capture.bmp"});

  fs::create_directory(folder / "locked");
  ASSERT_TRUE(WriteFileDurably(folder / "locked" / "Capture.bmp", Bytes("old")));
  fs_faults::ReadOnlyFolder readOnly(folder / "locked");
  ASSERT_TRUE(readOnly.mounted);
  EXPECT_FALSE(WriteFileDurably(folder / "locked" / "Capture.bmp", Bytes("new"), &error));
  EXPECT_EQ(error, EROFS);
  EXPECT_EQ(LastFileError(), EROFS);
  EXPECT_EQ(ReadBytes(folder / "locked" / "Capture.bmp"), "old");
  EXPECT_EQ(Names(folder / "locked"), std::set<std::string>{"Capture.bmp"});
}

}  // namespace
