// Disk re-scan on the bench: the tool's runs, their scripts, exit codes, the
// bounded wait and the device lock.
#include "disk/disk_rescan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "disk/tests/disk_bench_fixture.h"
#include "disk/tests/lock_probe.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace disk {
namespace {

using testing::DiskBench;
using testing::DiskBenchOptions;

std::vector<std::string> DiskpartRuns(sim::Bench& bench) {
  std::vector<std::string> runs;
  for (const std::string& command : bench.CommandLog()) {
    if (command.find("diskpart.exe") != std::string::npos) runs.push_back(command);
  }
  return runs;
}

// Script names of the runs, as the tool was handed them.
std::vector<std::string> ScriptNames(const std::vector<std::string>& runs) {
  std::vector<std::string> names;
  const std::regex script("/s \"([^\"]+)\"");
  for (const std::string& run : runs) {
    std::smatch m;
    if (std::regex_search(run, m, script)) names.push_back(m[1]);
  }
  return names;
}

sim::SystemFault Fault(sim::SystemOp op, const std::string& target, int count, int skip = 0,
                       uint32_t error = 0) {
  sim::SystemFault fault;
  fault.op = op;
  fault.target = target;
  fault.count = count;
  fault.skip = skip;
  fault.error = error;
  return fault;
}

TEST(DiskRescan, APendingDiskBecomesVisible) {
  DiskBench disk;
  disk.bench().SetDiskPending(disk.product(), true);
  char letter = 0;
  EXPECT_EQ(FindDriveLetter(disk.path().c_str(), &letter), 0);
  EXPECT_EQ(RunDiskpartRescan(), 1);
  EXPECT_FALSE(disk.bench().DiskPending(disk.product()));
  EXPECT_EQ(disk.WaitForLetter(), 'E');
}

TEST(DiskRescan, TwoRunsEachWithItsOwnQuotedScriptThatIsRemoved) {
  DiskBench disk;  // the temporary folder holds a space
  EXPECT_EQ(RunDiskpartRescan(), 1);
  const std::vector<std::string> runs = DiskpartRuns(disk.bench());
  ASSERT_EQ(runs.size(), 2u) << ::testing::PrintToString(disk.bench().CommandLog());
  const std::vector<std::string> names = ScriptNames(runs);
  ASSERT_EQ(names.size(), 2u) << ::testing::PrintToString(runs);
  EXPECT_NE(names[0], names[1]);
  for (const std::string& name : names) {
    EXPECT_NE(name.find("Station User"), std::string::npos) << name;
    const std::string host = disk.bench().HostPathOf(name);
    EXPECT_FALSE(!host.empty() && std::filesystem::exists(host)) << name;
  }
}

TEST(DiskRescan, WorkersRunningAtOnceNeverShareAScript) {
  DiskBench disk;
  std::atomic<int> ok{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i) workers.emplace_back([&] { ok += RunDiskpartRescan(); });
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(ok.load(), 4);
  const std::vector<std::string> names = ScriptNames(DiskpartRuns(disk.bench()));
  EXPECT_EQ(names.size(), 8u);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
}

struct RescanFailureCase {
  const char* name;
  sim::SystemFault fault;
  size_t runs;  // diskpart runs the log shows
};

class RescanFailure : public ::testing::TestWithParam<RescanFailureCase> {};

TEST_P(RescanFailure, ReturnsZeroAndFreesTheLock) {
  DiskBench disk;
  disk.bench().AddSystemFault(GetParam().fault);
  EXPECT_EQ(RunDiskpartRescan(), 0);
  EXPECT_EQ(DiskpartRuns(disk.bench()).size(), GetParam().runs);
  EXPECT_FALSE(testing::DeviceLockHeldElsewhere());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RescanFailure,
    ::testing::Values(
        // A first run that fails is not repeated.
        RescanFailureCase{"FirstExitNonZero", Fault(sim::SystemOp::ExitCode, "diskpart.exe", 1, 0, 1), 1},
        RescanFailureCase{"SecondExitNonZero",
                          Fault(sim::SystemOp::ExitCode, "diskpart.exe", 1, 1, 2), 2},
        RescanFailureCase{"StartFails", Fault(sim::SystemOp::Start, "cmd.exe", -1, 0, 2), 0},
        RescanFailureCase{"NeverEnds", Fault(sim::SystemOp::Hang, "diskpart.exe", -1), 1}),
    [](const ::testing::TestParamInfo<RescanFailureCase>& info) { return info.param.name; });

TEST(DiskRescanSystem, MissingToolStartsNothing) {
  DiskBenchOptions options;
  options.missingPrograms = {"diskpart.exe"};
  DiskBench disk(options);
  EXPECT_EQ(RunDiskpartRescan(), 0);
  EXPECT_TRUE(disk.bench().CommandLog().empty());
}

TEST(DiskRescanSystem, MissingTemporaryFolder) {
  DiskBenchOptions options;
  options.tempPath = "";
  DiskBench disk(options);
  EXPECT_EQ(RunDiskpartRescan(), 0);
  EXPECT_TRUE(disk.bench().CommandLog().empty());
}

TEST(DiskRescanLock, HeldWhileTheToolRunsAndTheWaitIsBounded) {
  DiskBench disk;
  disk.bench().AddSystemFault(Fault(sim::SystemOp::Hang, "diskpart.exe", -1));
  std::atomic<bool> done{false};
  std::atomic<bool> sawLocked{false};
  std::thread watcher([&] {
    while (!done.load()) {
      if (testing::DeviceLockHeldElsewhere()) sawLocked = true;
      std::this_thread::yield();
    }
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunDiskpartRescan(), 0);
  done = true;
  watcher.join();
  EXPECT_TRUE(sawLocked.load());
  EXPECT_FALSE(testing::DeviceLockHeldElsewhere());
  // 120 s of station time at a thousandfold clock.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(ExistingFile, FilesButNotFolders) {
  DiskBench disk;
  char system[platform::kMaxPath] = {};
  ASSERT_GT(platform::GetSystemDirectory(system, sizeof(system)), 0u);
  const std::string folder = system;
  EXPECT_EQ(IsExistingFile((folder + "\\diskpart.exe").c_str()), 1);
  EXPECT_EQ(IsExistingFile(folder.c_str()), 0);
  EXPECT_EQ(IsExistingFile((folder + "\\nothing.exe").c_str()), 0);
}

}  // namespace
}  // namespace disk
