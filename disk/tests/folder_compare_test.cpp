// Folder tree compare on trees of the host: counts, the mismatch box and its
// reasons, content in 16 MiB pieces, short reads.
#include "disk/folder_compare.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "disk/tests/disk_bench_fixture.h"
#include "platform/files.h"
#include "platform/message_box.h"

namespace disk {
namespace {

namespace fs = std::filesystem;

class FolderCompare : public ::testing::Test {
 protected:
  FolderCompare() {
    root_ = fs::temp_directory_path() /
            ("kv_compare_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(source());
    fs::create_directories(destination());
  }
  ~FolderCompare() override { fs::remove_all(root_); }

  std::string source() const { return (root_ / "src").string(); }
  std::string destination() const { return (root_ / "dst").string(); }

  // The same file on both sides, with the same modification time.
  void Twin(const std::string& relative, const std::string& content) {
    Write(source() + "/" + relative, content);
    Write(destination() + "/" + relative, content);
  }
  static void Write(const std::string& path, const std::string& content,
                    time_t mtime = 1700000000, long nanoseconds = 0) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    SetTime(path, mtime, nanoseconds);
  }
  static void SetTime(const std::string& path, time_t mtime, long nanoseconds = 0) {
    const struct timespec times[2] = {{mtime, nanoseconds}, {mtime, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
  }

  // Counts the source tree as the pass does at its start.
  FolderCounts CountedSource() {
    FolderCounts counts;
    EXPECT_EQ(CompareFolderTree(source().c_str(), "", 0, 0, counts), 1);
    return counts;
  }

  fs::path root_;
  platform::RecordingMessageBoxSink boxes_;
  platform::ScopedMessageBoxSink installed_{&boxes_};
};

TEST_F(FolderCompare, EqualTreesCountedAndProven) {
  Twin("a.bin", "alpha");
  Twin("sub/b.bin", "beta");
  Twin("sub/deeper/c.bin", std::string(100000, 'c'));
  fs::create_directories(source() + "/empty");
  fs::create_directories(destination() + "/empty");
  Twin(".hidden", "h");
  FolderCounts counts = CountedSource();
  EXPECT_EQ(counts, (FolderCounts{3, 4}));
  EXPECT_EQ(VerifyCopiedFolder(source().c_str(), destination().c_str(), 1, counts), 1);
  EXPECT_EQ(counts, (FolderCounts{3, 4}));
  EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(FolderCompare, CountsAddUpAndTrailingBackslashesAreAlike) {
  Twin("a", "1");
  FolderCounts counts{0, 10};
  EXPECT_EQ(CompareFolderTree((source() + "\\").c_str(), "", 0, 0, counts), 1);
  EXPECT_EQ(counts.files, 11);
}

TEST_F(FolderCompare, RecyclerAndSystemVolumeInformationAreSkippedExactly) {
  Twin("RECYCLER/x", "1");
  Twin("System Volume Information/y", "2");
  Twin("Recycler/z", "3");
  EXPECT_EQ(CountedSource(), (FolderCounts{1, 1}));
}

TEST_F(FolderCompare, ExtraEmptyFolderFailsAtTheCountWithoutABox) {
  Twin("a", "1");
  FolderCounts counts = CountedSource();
  fs::create_directories(destination() + "/extra");
  EXPECT_EQ(VerifyCopiedFolder(source().c_str(), destination().c_str(), 0, counts), 0);
  EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(FolderCompare, MissingFolders) {
  FolderCounts counts;
  EXPECT_EQ(CompareFolderTree((root_ / "none").c_str(), "", 0, 0, counts), 0);
  EXPECT_EQ(CompareFolderTree(source().c_str(), (root_ / "none").c_str(), 1, 0, counts), 0);
  EXPECT_EQ(VerifyCopiedFolder(source().c_str(), (root_ / "none").c_str(), 0, counts), 0);
  // A file is no folder.
  Write(source() + "/f", "x");
  EXPECT_EQ(CompareFolderTree((source() + "/f").c_str(), "", 0, 0, counts), 0);
}

struct MismatchCase {
  const char* name;
  const char* destinationContent;  // null: no destination file
  time_t destinationTime;
  int advanced;
  const char* reason;  // null: a match
};

class FileMismatch : public FolderCompare, public ::testing::WithParamInterface<MismatchCase> {};

TEST_P(FileMismatch, OneBoxWithTheFirstReason) {
  const MismatchCase& c = GetParam();
  Write(source() + "/f.bin", "0123456789");
  if (c.destinationContent != nullptr) {
    Write(destination() + "/f.bin", c.destinationContent, c.destinationTime);
  }
  FolderCounts counts = CountedSource();
  const int result = VerifyCopiedFolder(source().c_str(), destination().c_str(), c.advanced, counts);
  const auto boxes = boxes_.boxes();
  if (c.reason == nullptr) {
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(boxes.empty());
    return;
  }
  EXPECT_EQ(result, 0);
  if (c.destinationContent == nullptr) {
    // The count of the destination already fails, silently.
    EXPECT_TRUE(boxes.empty());
    boxes_.clear();
    EXPECT_EQ(CompareFileEntry((source() + "/f.bin").c_str(),
                               (destination() + "/f.bin").c_str(), c.advanced),
              0);
  }
  const auto shown = boxes_.boxes();
  ASSERT_EQ(shown.size(), 1u);
  // The walk joins with a backslash, as the station's paths are written.
  const char* separator = c.destinationContent == nullptr ? "/" : "\\";
  EXPECT_EQ(shown[0].text, destination() + separator + "f.bin" + c.reason);
  EXPECT_EQ(shown[0].caption, "Fail ");
  EXPECT_EQ(shown[0].flags & platform::kMbButtonMask, platform::kMbOk);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileMismatch,
    ::testing::Values(
        MismatchCase{"Match", "0123456789", 1700000000, 1, nullptr},
        MismatchCase{"Missing", nullptr, 0, 0, " doesn't exist!!!"},
        MismatchCase{"Size", "01234567890", 1700000000, 0, " Size does't match!!"},
        MismatchCase{"SizeBeforeTime", "0", 1600000000, 0, " Size does't match!!"},
        MismatchCase{"Time", "0123456789", 1700000004, 0, " Time does't match!!"},
        MismatchCase{"ContentOnlyWhenAsked", "0123456780", 1700000000, 0, nullptr},
        MismatchCase{"Content", "0123456780", 1700000000, 1, " File Content does't match!!"}),
    [](const ::testing::TestParamInfo<MismatchCase>& info) { return info.param.name; });

TEST_F(FolderCompare, TheFirstMismatchOfALargeFolderIsTheOneShown) {
  for (int i = 0; i < 200; ++i) Twin("many/f" + std::to_string(1000 + i), std::to_string(i));
  Write(destination() + "/many/f1150", "changed");
  Write(destination() + "/many/f1042", "CHANGED", 1700000000);
  Write(destination() + "/many/f1007", "7", 1700000010);
  FolderCounts counts = CountedSource();
  EXPECT_EQ(VerifyCopiedFolder(source().c_str(), destination().c_str(), 1, counts), 0);
  const auto shown = boxes_.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, destination() + "\\many\\f1007 Time does't match!!");
}

TEST_F(FolderCompare, EmptyFilesMatchWithContentCompare) {
  Twin("zero", "");
  EXPECT_EQ(CompareFileContent((source() + "/zero").c_str(), (destination() + "/zero").c_str()), 1);
  FolderCounts counts = CountedSource();
  EXPECT_EQ(VerifyCopiedFolder(source().c_str(), destination().c_str(), 1, counts), 1);
}

TEST_F(FolderCompare, ContentAcrossSixteenMebibytePieces) {
  // A difference in the last byte of the second piece.
  std::string data(kCompareChunkBytes + 4096, 'x');
  Twin("big", data);
  EXPECT_EQ(CompareFileContent((source() + "/big").c_str(), (destination() + "/big").c_str()), 1);
  data.back() = 'y';
  Write(destination() + "/big", data);
  EXPECT_EQ(CompareFileContent((source() + "/big").c_str(), (destination() + "/big").c_str()), 0);
  // Different sizes never reach the bytes.
  Write(destination() + "/big", data + "z");
  EXPECT_EQ(CompareFileContent((source() + "/big").c_str(), (destination() + "/big").c_str()), 0);
}

TEST_F(FolderCompare, ShortReadEndsAsAMismatch) {
  // Attribute files report a size of a page but give only a line: the file
  // holds fewer bytes than its size promised.
  const char* sysfs = "/sys/kernel/mm/transparent_hugepage/enabled";
  struct stat info = {};
  if (::stat(sysfs, &info) != 0 || info.st_size <= 64) GTEST_SKIP() << "no attribute file";
  EXPECT_EQ(CompareFileContent(sysfs, sysfs), 0);
  EXPECT_EQ(CompareFileEntry(sysfs, sysfs, 1), 0);
  const auto boxes = boxes_.boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, std::string(sysfs) + " File Content does't match!!");
}

TEST_F(FolderCompare, DeepPathsBeyondTheOldBuffers) {
  std::string relative;
  for (int i = 0; i < 30; ++i) relative += "folder_with_a_long_name_" + std::to_string(i) + "/";
  Twin(relative + "leaf.txt", "leaf");
  ASSERT_GT((source() + "/" + relative).size(), 600u);
  FolderCounts counts = CountedSource();
  EXPECT_EQ(counts, (FolderCounts{30, 1}));
  EXPECT_EQ(VerifyCopiedFolder(source().c_str(), destination().c_str(), 1, counts), 1);
}

// Copies onto a FAT32 volume of the bench, made by the platform's copy,
// which keeps FAT's 2-second write times (rounded up).
class FolderCompareOnFat : public FolderCompare {
 protected:
  static testing::DiskBenchOptions FatVolume() {
    testing::DiskBenchOptions options;
    options.sectors = 131072;
    options.fileSystem = "FAT32";
    return options;
  }
  static constexpr char kCopy[] = "E:\\copy";
  void CopyToVolume(const std::string& name) {
    ASSERT_TRUE(platform::CopyFile((source() + "/" + name).c_str(),
                                   (std::string(kCopy) + "\\" + name).c_str(), false));
  }
  std::string HostOfCopy(const std::string& name) {
    return disk_.bench().HostPathOf(std::string(kCopy) + "\\" + name);
  }
  int Verify() {
    FolderCounts counts = CountedSource();
    return VerifyCopiedFolder(source().c_str(), kCopy, 0, counts);
  }

  testing::DiskBench disk_{FatVolume()};
};

struct FatTimeCase {
  const char* name;
  int64_t seconds;        // the source's write time
  long nanoseconds;
  int copyShift;          // seconds added to the copy's time after the copy
  const char* reason;     // null: a match
};

class FatWriteTimes : public FolderCompareOnFat,
                      public ::testing::WithParamInterface<FatTimeCase> {};

TEST_P(FatWriteTimes, AFaithfulCopyMatchesAndAChangedTimeFails) {
  const FatTimeCase& c = GetParam();
  Write(source() + "/f.bin", "0123456789", static_cast<time_t>(c.seconds), c.nanoseconds);
  ASSERT_TRUE(platform::CreateDirectory(kCopy));
  CopyToVolume("f.bin");
  if (c.copyShift != 0) {
    struct stat copied = {};
    ASSERT_EQ(::stat(HostOfCopy("f.bin").c_str(), &copied), 0);
    SetTime(HostOfCopy("f.bin"), copied.st_mtim.tv_sec + c.copyShift);
  }
  const int result = Verify();
  const auto shown = boxes_.boxes();
  if (c.reason == nullptr) {
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(shown.empty()) << shown[0].text;
    return;
  }
  EXPECT_EQ(result, 0);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, std::string(kCopy) + "\\f.bin" + c.reason);
}

// The last second of a day in local time, so the copy's rounding moves it
// into the next day.
int64_t LocalEndOfDay() {
  std::tm t = {};
  t.tm_year = 123;
  t.tm_mon = 10;
  t.tm_mday = 14;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 59;
  t.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&t));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FatWriteTimes,
    ::testing::Values(
        FatTimeCase{"EvenSecond", 1700000000, 0, 0, nullptr},
        FatTimeCase{"OddSecond", 1700000001, 0, 0, nullptr},
        FatTimeCase{"HalfSecond", 1700000000, 500000000, 0, nullptr},
        FatTimeCase{"LastNanosecondOfAnOddSecond", 1700000001, 999999999, 0, nullptr},
        FatTimeCase{"IntoTheNextDay", LocalEndOfDay(), 500000000, 0, nullptr},
        FatTimeCase{"CopyTwoSecondsLater", 1700000001, 0, 2, " Time does't match!!"},
        FatTimeCase{"CopyTwoSecondsEarlier", 1700000000, 0, -2, " Time does't match!!"},
        FatTimeCase{"CopyAMinuteLater", 1700000000, 250000000, 60, " Time does't match!!"}),
    [](const ::testing::TestParamInfo<FatTimeCase>& info) { return info.param.name; });

TEST_F(FolderCompareOnFat, ANameDifferingOnlyInCaseFailsAsTheName) {
  Write(source() + "/Setup.EXE", "program");
  ASSERT_TRUE(platform::CreateDirectory(kCopy));
  ASSERT_TRUE(platform::CopyFile((source() + "/Setup.EXE").c_str(), "E:\\copy\\setup.exe", false));
  EXPECT_EQ(Verify(), 0);
  const auto shown = boxes_.boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, std::string(kCopy) + "\\Setup.EXE Name does't match!!!");
}

TEST(JoinPath, FolderThenName) {
  EXPECT_EQ(JoinPath("E:\\data\\", "file.txt"), "E:\\data\\file.txt");
  EXPECT_EQ(JoinPath(std::string(1000, 'a') + "\\", "b").size(), 1002u);
}

}  // namespace
}  // namespace disk
