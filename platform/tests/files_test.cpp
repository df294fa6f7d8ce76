// Files on the bench's drives: listings with DOS attributes, times and
// sizes, FAT's 2-second write times, unique temp files, paths without case.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "sim/bench.h"

namespace {

using namespace platform;

class Files : public ::testing::Test {
 protected:
  static std::shared_ptr<sim::Bench> Make() {
    sim::ProductConfig p;
    p.name = "p";
    p.disk.sectors = 131072;
    p.volume.letters = "E";
    p.volume.autoLetter = false;
    p.volume.fileSystem = "FAT32";
    return std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{p});
  }
  void Write(const char* path, const std::string& content) {
    Handle h = CreateFile(path, kAccessWrite, 0, kCreateAlways, kFileAttributeNormal);
    ASSERT_NE(h, kInvalidHandle) << path;
    uint32_t written = 0;
    ASSERT_TRUE(WriteFile(h, content.data(), static_cast<uint32_t>(content.size()), &written));
    CloseHandle(h);
  }
  static void SetTime(const std::string& host, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, host.c_str(), times, 0), 0);
  }
  std::shared_ptr<sim::Bench> bench_ = Make();
  ScopedBackend installed_{bench_};
};

TEST_F(Files, ListingGivesDosAttributesTimesAndSizes) {
  ASSERT_TRUE(CreateDirectory("E:\\sub"));
  Write("E:\\sub\\a.bin", std::string(1000, 'x'));
  Write("E:\\b.txt", "hello");
  FindData d;
  std::vector<std::pair<std::string, uint8_t>> all, files;
  for (int r = FindFirst("E:\\*.*", &d, 63); r == 0; r = FindNext(&d)) all.emplace_back(d.name, d.attrib);
  for (int r = FindFirst("E:\\*.*", &d, 47); r == 0; r = FindNext(&d)) files.emplace_back(d.name, d.attrib);
  // A drive's root lists no dots; mask 47 leaves folders out.
  EXPECT_EQ(all, (std::vector<std::pair<std::string, uint8_t>>{{"b.txt", kFaArchive}, {"sub", kFaDirectory}}));
  EXPECT_EQ(files, (std::vector<std::pair<std::string, uint8_t>>{{"b.txt", kFaArchive}}));
  std::vector<std::string> sub;
  for (int r = FindFirst("E:\\sub\\*.*", &d, 63); r == 0; r = FindNext(&d)) sub.push_back(d.name);
  EXPECT_EQ(sub, (std::vector<std::string>{".", "..", "a.bin"}));
  ASSERT_EQ(FindFirst("E:\\SUB\\A.BIN", &d, 47), 0) << "FAT names have no case";
  EXPECT_STREQ(d.name, "a.bin");
  EXPECT_EQ(d.size, 1000u);
  FindClose(&d);
  EXPECT_EQ(FindFirst("E:\\none\\*.*", &d, 63), -1);
  EXPECT_EQ(FindFirst("E:\\*.xyz", &d, 63), -1);
}

TEST_F(Files, FatRoundsWriteTimesUpToTwoSecondsAndListingsCutThem) {
  const std::string source = ::testing::TempDir() + "kv_files_src.txt";
  std::ofstream(source) << "payload";
  struct Case {
    time_t seconds;
    long nanoseconds;
    time_t onFat;  // what the FAT copy keeps
  } cases[] = {{1700000000, 0, 1700000000}, {1700000001, 0, 1700000002}, {1700000000, 500000000, 1700000002},
               {1700000001, 1, 1700000002}};
  for (const Case& c : cases) {
    SetTime(source, c.seconds, c.nanoseconds);
    ASSERT_TRUE(CopyFile(source.c_str(), "E:\\copy.txt", false));
    struct stat st {};
    ASSERT_EQ(::stat(bench_->HostPathOf("E:\\copy.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, c.onFat) << c.seconds << "." << c.nanoseconds;
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
    FindData src, dst;
    ASSERT_EQ(FindFirst(source.c_str(), &src, 47), 0);
    ASSERT_EQ(FindFirst("E:\\copy.txt", &dst, 47), 0);
    uint16_t date = 0, time = 0;
    UnixTimeToDosDateTime(c.seconds, &date, &time);
    EXPECT_EQ(src.time, time) << "a listing cuts to the 2-second step";
    UnixTimeToDosDateTime(c.onFat, &date, &time);
    EXPECT_EQ(dst.time, time);
    EXPECT_EQ(dst.size, 7u);
    FindClose(&src);
    FindClose(&dst);
  }
  // A file written on the volume is rounded up when it closes.
  Write("E:\\new.bin", "1234");
  struct stat st {};
  ASSERT_EQ(::stat(bench_->HostPathOf("E:\\new.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_nsec, 0);
  EXPECT_EQ(st.st_mtim.tv_sec % 2, 0);
  EXPECT_FALSE(CopyFile(source.c_str(), "E:\\copy.txt", true));
  EXPECT_EQ(GetLastError(), kErrorFileExists);
  std::remove(source.c_str());
}

TEST_F(Files, DosDateAndTimePacking) {
  // 2024-02-29 13:45:59 local time.
  tm t{};
  t.tm_year = 124;
  t.tm_mon = 1;
  t.tm_mday = 29;
  t.tm_hour = 13;
  t.tm_min = 45;
  t.tm_sec = 59;
  t.tm_isdst = -1;
  uint16_t date = 0, time = 0;
  UnixTimeToDosDateTime(::mktime(&t), &date, &time);
  EXPECT_EQ(date, (44 << 9) | (2 << 5) | 29);
  EXPECT_EQ(time, (13 << 11) | (45 << 5) | 29);
}

TEST_F(Files, TempFilesAreUniqueAcrossThreadsAndLiveInTheTempFolder) {
  char temp[kMaxPath];
  const uint32_t length = GetTempPath(sizeof temp, temp);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(temp[length - 1], '\\');
  EXPECT_EQ(GetTempPath(3, temp), length + 1) << "a short buffer reports the size needed";
  ASSERT_EQ(GetTempPath(sizeof temp, temp), length);
  EXPECT_NE(GetFileAttributes(temp) & kFileAttributeDirectory, 0u);
  constexpr int kThreads = 8, kEach = 20;
  std::vector<std::vector<std::string>> names(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      for (int k = 0; k < kEach; ++k) {
        char name[kMaxPath];
        if (GetTempFileName(temp, "qvs", 0, name) != 0) names[i].push_back(name);
      }
    });
  for (auto& t : threads) t.join();
  std::set<std::string> all;
  for (const auto& v : names) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
  for (const std::string& n : all) {
    EXPECT_EQ(n.rfind(std::string(temp) + "qvs", 0), 0u) << n;
    EXPECT_NE(GetFileAttributes(n.c_str()), kInvalidFileAttributes) << "created, so no one else takes it";
    EXPECT_TRUE(DeleteFile(n.c_str()));
  }
  char name[kMaxPath];
  EXPECT_EQ(GetTempFileName("C:\\no such folder\\", "qvs", 0, name), 0u);

  sim::BenchConfig config;
  config.system.tempPath.clear();
  ScopedBackend none(std::make_shared<sim::Bench>(config));
  EXPECT_EQ(GetTempPath(sizeof temp, temp), 0u);
}

TEST_F(Files, FileCallsReportTheSystemsErrors) {
  EXPECT_EQ(CreateFile("E:\\missing\\x.txt", kAccessWrite, 0, kCreateAlways, 0), kInvalidHandle);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_EQ(CreateFile("E:\\x.txt", kAccessRead, 0, kOpenExisting, 0), kInvalidHandle);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(CreateFile("Q:\\x.txt", kAccessRead, 0, kOpenExisting, 0), kInvalidHandle);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  ASSERT_TRUE(CreateDirectory("E:\\d"));
  EXPECT_FALSE(CreateDirectory("E:\\d"));
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_EQ(CreateFile("E:\\d", kAccessRead, 0, kOpenExisting, 0), kInvalidHandle) << "a folder is no file";
  Write("E:\\d\\f", "abc");
  EXPECT_FALSE(RemoveDirectory("E:\\d"));
  EXPECT_EQ(GetLastError(), kErrorDirNotEmpty);
  EXPECT_FALSE(RemoveDirectory("E:\\"));
  Handle h = CreateFile("E:\\d\\f", kAccessRead, kShareRead, kOpenExisting, 0);
  char buffer[8] = {};
  uint32_t read = 0;
  int64_t size = 0;
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size, 3);
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read));
  EXPECT_EQ(read, 3u);
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read));
  EXPECT_EQ(read, 0u) << "the end reads as nothing, not as a failure";
  EXPECT_FALSE(DeviceIoControl(h, kIoctlStorageGetDeviceNumber, nullptr, 0, buffer, sizeof buffer, nullptr));
  CloseHandle(h);
  EXPECT_TRUE(DeleteFile("E:\\D\\F"));
  EXPECT_TRUE(RemoveDirectory("E:\\d"));
  EXPECT_EQ(bench_->OpenHandleCount(), 0);
}

}  // namespace
