// The format driver's routes on the bench: the format command's batch, the
// format service, the label and volume tail, the device lock and failures.
#include "disk/format_routes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "disk/format_route_table.h"
#include "disk/tests/disk_bench_fixture.h"
#include "disk/tests/lock_probe.h"
#include "platform/debug.h"
#include "platform/module.h"
#include "platform/volumes.h"

namespace disk {
namespace {

using testing::DiskBench;
using testing::DiskBenchOptions;

// Records the diagnostic output and, at the texts named, whether another
// thread could take the device lock then.
class TraceRecorder {
 public:
  explicit TraceRecorder(std::vector<std::string> probeAt = {}) : probeAt_(std::move(probeAt)) {
    platform::SetDebugSink([this](const std::string& text) {
      bool held = false;
      const bool probe = std::find(probeAt_.begin(), probeAt_.end(), text) != probeAt_.end();
      if (probe) held = testing::DeviceLockHeldElsewhere();
      std::lock_guard lock(mutex_);
      traces_.push_back(text);
      if (probe) lockHeldAt_[text] = held;
    });
  }
  ~TraceRecorder() { platform::SetDebugSink({}); }
  std::vector<std::string> traces() {
    std::lock_guard lock(mutex_);
    return traces_;
  }
  std::map<std::string, bool> lockHeldAt() {
    std::lock_guard lock(mutex_);
    return lockHeldAt_;
  }
  int Count(const std::string& prefix) {
    int n = 0;
    for (const std::string& t : traces()) n += t.rfind(prefix, 0) == 0;
    return n;
  }

 private:
  std::vector<std::string> probeAt_;
  std::mutex mutex_;
  std::vector<std::string> traces_;
  std::map<std::string, bool> lockHeldAt_;
};

struct VolumeState {
  std::string label, fileSystem;
};

VolumeState Volume(const char* root) {
  char label[64] = {}, fileSystem[16] = {};
  // No volume reads as empty texts.
  (void)platform::GetVolumeInformation(root, label, sizeof(label), nullptr, nullptr, nullptr,
                                       fileSystem, sizeof(fileSystem));
  return {label, fileSystem};
}

sim::SystemFault Fault(sim::SystemOp op, const std::string& target = "", int count = 1,
                       uint32_t error = 0) {
  sim::SystemFault fault;
  fault.op = op;
  fault.target = target;
  fault.count = count;
  fault.error = error;
  return fault;
}

DiskBenchOptions WithoutFormatCom() {
  DiskBenchOptions options;
  options.missingPrograms = {"format.com"};
  return options;
}

class FormatRoutes : public ::testing::Test {};

// Keeps the verb of every start.
class VerbRecordingBench : public sim::Bench {
 public:
  using sim::Bench::Bench;
  bool ShellExecute(const platform::ShellExecuteInfo& info, platform::Handle* process,
                    uint32_t* error) override {
    {
      std::lock_guard lock(mutex_);
      verbs_.push_back(info.lpVerb != nullptr ? info.lpVerb : "(default)");
    }
    return sim::Bench::ShellExecute(info, process, error);
  }
  std::vector<std::string> verbs() {
    std::lock_guard lock(mutex_);
    return verbs_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> verbs_;
};

TEST_F(FormatRoutes, FormatCommandRunsTheBatchLineAndSetsTheLabel) {
  DiskBench disk;
  EXPECT_EQ(FormatVolume("E:\\", 1, "DATA", kFileSystemExFat, 16384), kFormatOk);
  const std::vector<std::string> log = disk.bench().CommandLog();
  const auto has = [&](const std::string& text) {
    return std::any_of(log.begin(), log.end(),
                       [&](const std::string& c) { return c.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(has("format.com E: /q /fs:exFAT /x /a:16K")) << ::testing::PrintToString(log);
  EXPECT_TRUE(has("label E: DATA")) << ::testing::PrintToString(log);
  EXPECT_EQ(Volume("E:\\").fileSystem, "exFAT");
  EXPECT_EQ(Volume("E:\\").label, "DATA");
}

TEST_F(FormatRoutes, NoCharacterOfTheLabelRunsACommand) {
  for (const std::string label : {"A&echo PWNED|x", "%PATH%!x!^(y)", "\"q\" > out", "B&&del *"}) {
    DiskBench disk;
    ASSERT_EQ(FormatVolume("E:\\", 1, label.c_str(), kFileSystemNtfs, 0), kFormatOk) << label;
    const std::vector<std::string> log = disk.bench().CommandLog();
    // The shell ran the batch, the echo, the format and one label command
    // that got the label whole, and nothing else.
    ASSERT_EQ(log.size(), 4u) << ::testing::PrintToString(log);
    EXPECT_EQ(log[3], "label E: " + label);
  }
}

TEST_F(FormatRoutes, EmptyLabelNeverWaitsForTheKeyboard) {
  DiskBench disk;
  // A label command without a label would sit at its prompt.
  disk.bench().AddSystemFault(Fault(sim::SystemOp::Hang, "label.exe", -1));
  EXPECT_EQ(FormatVolume("E:\\", 1, "", kFileSystemNtfs, 0), kFormatOk);
  EXPECT_EQ(Volume("E:\\").fileSystem, "NTFS");
  for (const std::string& command : disk.bench().CommandLog()) {
    EXPECT_NE(command.rfind("label", 0), 0u) << command;
  }
}

TEST_F(FormatRoutes, TheBatchRunsElevatedFromVistaOn) {
  for (const auto& [major, verb] : {std::pair<uint32_t, const char*>{5, "(default)"},
                                    {6, "runas"},
                                    {10, "runas"}}) {
    DiskBenchOptions options;
    options.osMajor = major;
    std::shared_ptr<VerbRecordingBench> recorder;
    DiskBench disk(options, [&](const sim::BenchConfig& config) {
      recorder = std::make_shared<VerbRecordingBench>(config);
      return recorder;
    });
    ASSERT_EQ(FormatVolume("E:\\", 1, "DATA", kFileSystemNtfs, 0), kFormatOk);
    ASSERT_FALSE(recorder->verbs().empty());
    EXPECT_EQ(recorder->verbs()[0], verb) << major;
  }
}

TEST_F(FormatRoutes, ABatchFileThatCannotBeMadeIsAFailure) {
  DiskBench disk;
  const std::string host = disk.bench().HostPathOf(
      "C:\\Users\\Station User\\AppData\\Local\\Temp\\qvfmt.bat");
  ASSERT_FALSE(host.empty());
  std::filesystem::create_directories(host);  // a folder where the file should go
  EXPECT_EQ(FormatVolume("E:\\", 1, "DATA", kFileSystemNtfs, 0), kFormatFailed);
  EXPECT_TRUE(disk.bench().CommandLog().empty());
  EXPECT_FALSE(testing::DeviceLockHeldElsewhere());
}

TEST_F(FormatRoutes, AnOddDriveTypeNeverWaitsForStandardInput) {
  DiskBenchOptions options;
  options.driveType = platform::kDriveCdRom;
  DiskBench disk(options);
  TraceRecorder traces;
  testing::ScopedHddAccessRetry none(0);
  EXPECT_EQ(FormatVolume("E:\\", 1, "DATA", kFileSystemFat32, 0), kFormatFailed);
  EXPECT_EQ(traces.Count("Insert a new floppy in drive E:\nand press Enter when ready..."), 1);
}

struct CommandFailureCase {
  const char* name;
  sim::SystemOp op;
  const char* target;
  uint32_t error;
};

class FormatCommandFailure : public FormatRoutes,
                             public ::testing::WithParamInterface<CommandFailureCase> {};

TEST_P(FormatCommandFailure, IsAFailedFormatNeverSuccess) {
  DiskBench disk;  // the volume keeps its old NTFS
  disk.bench().AddSystemFault(Fault(GetParam().op, GetParam().target, -1, GetParam().error));
  EXPECT_EQ(FormatVolume("E:\\", 1, "DATA", kFileSystemNtfs, 0), kFormatFailed);
  EXPECT_FALSE(testing::DeviceLockHeldElsewhere());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatCommandFailure,
    ::testing::Values(CommandFailureCase{"StartRefused", sim::SystemOp::Start, "", 1223},
                      CommandFailureCase{"FormatExitsNonZero", sim::SystemOp::ExitCode,
                                         "format.com", 4},
                      CommandFailureCase{"FormatFails", sim::SystemOp::Format, "", 0}),
    [](const ::testing::TestParamInfo<CommandFailureCase>& info) { return info.param.name; });

TEST_F(FormatRoutes, NoTemporaryFolderIsAFailure) {
  DiskBenchOptions options;
  options.tempPath = "";
  DiskBench disk(options);
  EXPECT_EQ(FormatVolume("E:\\", 1, "DATA", kFileSystemNtfs, 0), kFormatFailed);
  EXPECT_TRUE(disk.bench().CommandLog().empty());
}

TEST_F(FormatRoutes, FileSystemIndexOutsideTheTableIsRefused) {
  DiskBench disk;
  for (const int index : {-1, 3, 1000}) {
    EXPECT_EQ(FormatVolume("E:\\", 1, "DATA", index, 0), kFormatFailed) << index;
  }
  EXPECT_TRUE(disk.bench().CommandLog().empty());
  EXPECT_EQ(Volume("E:\\").fileSystem, "NTFS");
}

TEST_F(FormatRoutes, FormatServiceWhenThereIsNoFormatCommand) {
  DiskBench disk(WithoutFormatCom());
  TraceRecorder traces;
  EXPECT_EQ(FormatVolume("E:\\", 1, "SERVICE", kFileSystemExFat, 0), kFormatOk);
  EXPECT_EQ(Volume("E:\\").fileSystem, "exFAT");
  EXPECT_EQ(Volume("E:\\").label, "SERVICE");
  for (const std::string& command : disk.bench().CommandLog()) {
    EXPECT_EQ(command.find("format.com"), std::string::npos) << command;
  }
  EXPECT_EQ(traces.Count("First Format E:\\"), 1);
  EXPECT_EQ(BindFmifs(), 1);
}

TEST_F(FormatRoutes, FormatServiceRetriesWhileItFails) {
  DiskBench disk(WithoutFormatCom());
  TraceRecorder traces;
  disk.bench().AddSystemFault(Fault(sim::SystemOp::Format, "", 2));
  EXPECT_EQ(FormatVolume("E:\\", 1, "SERVICE", kFileSystemNtfs, 0), kFormatOk);
  EXPECT_EQ(traces.Count("FormatEx was unable to complete successfully."), 2);
  disk.bench().AddSystemFault(Fault(sim::SystemOp::Format, "", -1));
  EXPECT_EQ(FormatVolume("E:\\", 1, "SERVICE", kFileSystemNtfs, 0), kFormatFailed);
  EXPECT_FALSE(testing::DeviceLockHeldElsewhere());
}

TEST_F(FormatRoutes, NeitherFormatCommandNorServiceLeavesTheLockFree) {
  DiskBenchOptions options = WithoutFormatCom();
  options.formatService = false;
  DiskBench disk(options);
  TraceRecorder traces;
  EXPECT_EQ(FormatVolume("E:\\", 1, "DATA", kFileSystemNtfs, 0), kFormatFailed);
  EXPECT_EQ(traces.Count("Could not located FMIFS entry points."), 1);
  EXPECT_FALSE(testing::DeviceLockHeldElsewhere());
}

TEST_F(FormatRoutes, TheLockIsHeldAcrossTheWholeLockedRoutes) {
  for (const bool formatCom : {true, false}) {
    DiskBench disk(formatCom ? DiskBenchOptions{} : WithoutFormatCom());
    TraceRecorder traces({"Format complete.\n", "First Format E:\\"});
    ASSERT_EQ(FormatVolume("E:\\", 1, "LOCKED", kFileSystemNtfs, 0), kFormatOk);
    const auto held = traces.lockHeldAt();
    ASSERT_TRUE(held.count("Format complete.\n"));
    EXPECT_TRUE(held.at("Format complete.\n")) << formatCom;
    if (!formatCom) {
      ASSERT_TRUE(held.count("First Format E:\\"));
      EXPECT_TRUE(held.at("First Format E:\\"));
    }
    EXPECT_FALSE(testing::DeviceLockHeldElsewhere());
  }
}

TEST_F(FormatRoutes, ALabelTheSystemRejectsIsRetriedAndDoesNotFailTheRoute) {
  DiskBench disk;
  TraceRecorder traces;
  disk.bench().AddSystemFault(Fault(sim::SystemOp::SetLabel, "", 2));
  EXPECT_EQ(FormatVolume("E:\\", 1, "RETRIED", kFileSystemNtfs, 0), kFormatOk);
  EXPECT_GE(traces.Count("0 Label"), 1);
  EXPECT_EQ(Volume("E:\\").label, "RETRIED");
  // Never set: the worker's label check catches it, not the route.
  disk.bench().AddSystemFault(Fault(sim::SystemOp::SetLabel, "", -1));
  EXPECT_EQ(FormatVolume("E:\\", 1, "NEVER", kFileSystemNtfs, 0), kFormatOk);
  EXPECT_NE(Volume("E:\\").label, "NEVER");
}

TEST(FormatExCallbackTest, TextIsWrittenAsItIsAndDoneFalseIsReported) {
  TraceRecorder traces;
  const platform::FmifsTextOutput output{1, "100%s%n%d done\n"};
  EXPECT_EQ(FormatExCallback(platform::kFmifsOutput, 0, const_cast<platform::FmifsTextOutput*>(&output)), 1);
  uint32_t percent = 42;
  EXPECT_EQ(FormatExCallback(platform::kFmifsProgress, 0, &percent), 1);
  uint8_t success = 0;
  EXPECT_EQ(FormatExCallback(platform::kFmifsDone, 0, &success), 1);
  EXPECT_EQ(FormatExCallback(platform::kFmifsVolumeInUse, 0, nullptr), 1);
  const std::vector<std::string> t = traces.traces();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0], "100%s%n%d done\n");
  EXPECT_EQ(t[1], "42 percent completed.\r");
  EXPECT_EQ(t[2], "FormatEx was unable to complete successfully.\n\n");
}

TEST(FormatPrompt, ClosedWhenTheShellShowsIt) {
  DiskBench disk;
  EXPECT_EQ(CloseFormatPrompt(), 0);
  disk.bench().AddWindow("#32770", "Other Program");
  disk.bench().AddWindow("Shell_TrayWnd", "Microsoft Windows");
  EXPECT_EQ(CloseFormatPrompt(), 0);
  disk.bench().AddWindow("#32770", "Microsoft Windows");
  EXPECT_EQ(CloseFormatPrompt(), 1);
}

TEST(SystemErrors, CaptionAndText) {
  TraceRecorder traces;
  ReportSystemError("Could not query volume", 5);
  ASSERT_EQ(traces.traces().size(), 1u);
  EXPECT_EQ(traces.traces()[0], "Could not query volume: Access is denied.\n");
}

}  // namespace
}  // namespace disk
