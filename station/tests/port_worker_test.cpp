// The port worker end to end on the bench: one table of faults, one per
// step, with every status the port shows afterwards.
#include "station/port_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bridge/firmware_update.h"
#include "bridge/tests/bench_fixture.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

using testing::Pattern;

namespace fs = std::filesystem;
using bridge::testing::Always;
using testing::AllBoxesUsable;
using testing::WorkerBench;
using testing::WorkerProduct;

// A software image folder on the host, removed again.
class SoftwareImage {
 public:
  explicit SoftwareImage(const std::string& name) : root_(testing::ScratchPath("worker-" + name)) {
    fs::remove_all(root_);
    fs::create_directories(root_ / "Drivers");
    std::ofstream(root_ / "Setup.exe", std::ios::binary) << std::string(70000, 'S');
    std::ofstream(root_ / "Drivers" / "drv.sys", std::ios::binary) << std::string(4097, '\x7f');
  }
  ~SoftwareImage() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string root() const { return root_.string(); }
  // As the pass stores it: the folder and "\*.*".
  std::string source() const { return root_.string() + "\\*.*"; }
  static constexpr int32_t kFolders = 1;
  static constexpr int32_t kFiles = 2;

 private:
  fs::path root_;
};

// The statuses a port shows after its worker ended.
struct Statuses {
  int32_t identity, usb3, firmwareCheck, firmware, configuration, relink, partition, format,
      readWrite, copy, compare;
  bool operator==(const Statuses&) const = default;
};

void PrintTo(const Statuses& s, std::ostream* os) {
  *os << "{id " << s.identity << ", usb3 " << s.usb3 << ", fwck " << s.firmwareCheck << ", fw "
      << s.firmware << ", cfg " << s.configuration << ", relink " << s.relink << ", part "
      << s.partition << ", fmt " << s.format << ", rw " << s.readWrite << ", copy " << s.copy
      << ", cmp " << s.compare << "}";
}

Statuses StatusesOf(const bridge::PortRecord& r) {
  return {r.identityCheckStatus, r.usb3CheckStatus,    r.firmwareCheckStatus, r.firmwareStatus,
          r.configurationStatus, r.relinkStatus,       r.partitionStatus,     r.formatStatus,
          r.readWriteStatus,     r.softwareCopyStatus, r.folderCompareStatus};
}

struct FaultScene {
  sim::ProductConfig& product;
  WorkerJob& job;
  WorkerBench& bench;
  std::string otherFile;  // a firmware file that is not what the product holds
};

struct FaultCase {
  const char* name;
  std::function<void(sim::ProductConfig&)> before;  // on the product's config
  std::function<void(FaultScene&)> fault;           // on the prepared bench and job
  Statuses statuses;
  // The highest progress a row showed before the final 100: 5 after a failed
  // erase, 15 after a failure up to the update, else 90 (the compare's 5
  // is added after its row was posted, with the 100 right after).
  int32_t progress;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

constexpr int32_t kF = bridge::kStepFail, kO = bridge::kStepOff, kP = bridge::kStepPass,
                  kS = bridge::kStepSkipped;

const FaultCase kFaultCases[] = {
    {"NoFault", nullptr, nullptr, {kP, kP, kO, kP, kP, kP, kP, kP, kP, kP, kP}, 90},
    {"EraseBoxEraseRefused",
     nullptr,
     [](FaultScene& s) {
       s.job.controls.cbEraseFlash.checked = true;
       s.bench.product(0).AddFault(Always(sim::Fault::Kind::CheckCondition, {0xDF, 0x03}));
     },
     {kO, kO, kO, kF, kO, kO, kO, kO, kO, kO, kO},
     5},
    {"IdentityMismatch",
     nullptr,
     [](FaultScene& s) { SetFieldText(s.job.settings.VerifyStringB, "Another Product"); },
     {kF, kS, kO, kO, kO, kO, kO, kO, kO, kO, kO},
     15},
    {"NotSuperSpeedPlus",
     nullptr,
     [](FaultScene& s) { s.job.settings.EnUSB31Gen2Check = 1; },
     {kP, kF, kO, kO, kO, kO, kO, kO, kO, kO, kO},
     15},
    {"FirmwareDiffersFromFile",
     nullptr,
     [](FaultScene& s) {
       s.job.settings.EnFWCheck = 1;
       SetFieldText(s.job.settings.FwFileName, s.otherFile);
     },
     {kP, kP, kF, kO, kO, kO, kO, kO, kO, kO, kO},
     15},
    {"DownloadRefused",
     nullptr,
     [](FaultScene& s) {
       s.bench.product(0).AddFault(Always(sim::Fault::Kind::CheckCondition, {0x3B, 0x0E}));
     },
     {kP, kP, kO, kF, kF, kO, kO, kO, kO, kO, kO},
     15},
    {"NeverBackAfterReset",
     [](sim::ProductConfig& p) { p.afterReset = sim::AfterReset::NeverBack; },
     [](FaultScene& s) { s.job.settings.MPResetWait = 2; },
     {kP, kP, kO, kP, kP, kF, kS, kS, kS, kS, kS},
     90},
    {"UnidentifiedAfterReset",
     [](sim::ProductConfig& p) { p.afterReset = sim::AfterReset::Unidentified; },
     [](FaultScene& s) { s.job.settings.MPResetWait = 3; },
     {kP, kP, kO, kP, kP, kF, kS, kS, kS, kS, kS},
     90},
    {"LayoutRefused",
     nullptr,
     [](FaultScene& s) {
       s.bench.bench().AddSystemFault({sim::SystemOp::Layout, "", 0, -1, 0});
     },
     {kP, kP, kO, kP, kP, kP, kF, kS, kS, kS, kS},
     90},
    {"FormatCommandFails",
     nullptr,
     [](FaultScene& s) {
       s.job.controls.FmtTypeComboBox = 0;  // NTFS: the system's format command
       s.bench.bench().AddSystemFault({sim::SystemOp::Format, "", 0, -1, 0});
     },
     {kP, kP, kO, kP, kP, kP, kP, kF, kS, kS, kS},
     90},
    {"SlowerThanTheReadLimit",
     nullptr,
     [](FaultScene& s) {
       s.job.settings.USBReadPerformance = 1000000;
       s.job.settings.USBWritePerformance = 1;
     },
     {kP, kP, kO, kP, kP, kP, kP, kP, kF, kS, kS},
     90},
    {"SoftwareImageMissing",
     nullptr,
     [](FaultScene& s) { SetFieldText(s.job.settings.SwImgPath, "/nonexistent-kestrova\\*.*"); },
     {kP, kP, kO, kP, kP, kP, kP, kP, kP, kF, kS},
     90},
    {"CopyCountsDiffer",
     nullptr,
     [](FaultScene& s) { s.job.settings.FileCount += 1; },
     {kP, kP, kO, kP, kP, kP, kP, kP, kP, kP, kF},
     90},
};

class PortWorkerFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(PortWorkerFaults, EveryLaterStatusProgressAndResult) {
  const FaultCase& c = GetParam();
  sim::ProductConfig config = WorkerProduct("m", 25);
  config.placement.speed = "super";
  if (c.before) c.before(config);
  WorkerBench bench({config});
  ASSERT_EQ(bench.Prepare(), 1);
  const int slot = bench.SlotOf(bench.product(0));
  ASSERT_GE(slot, 0);

  const std::vector<uint8_t> file = Pattern(bridge::kQvs884LargeImageSize, 887);
  PassState& pass = bench.pass();
  ASSERT_TRUE(pass.firmwareImage.Allocate());
  std::memcpy(pass.firmwareImage.data(), file.data(), file.size());
  pass.firmwareImage.SetLength(static_cast<uint32_t>(file.size()));
  pass.pattern.pages[0].fill(0x5A);

  SoftwareImage image(c.name);
  const std::string otherFile = image.root() + "-other.bin";
  std::ofstream(otherFile, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));

  auto job = bench.Job(slot);
  job->controls = AllBoxesUsable();
  job->controls.FmtTypeComboBox = 1;  // FAT32
  SettingsBlock& s = job->settings;
  s.EnVenderCheck = 1;
  SetFieldText(s.VerifyVenderID, "1D6B");
  SetFieldText(s.VerifyProductID, "0100");
  SetFieldText(s.VerifyStringA, config.manufacturer);
  SetFieldText(s.VerifyStringB, config.product);
  s.EnUSB30Check = 1;
  s.EnFWUpdate = 1;
  s.EnEEPROMUpdate = 1;
  s.MPPortReset = 1;
  s.EnPartition = 1;
  s.EnFormat = 1;
  s.EnRWTest = 1;
  s.EnSWCopy = 1;
  s.EnFolderCompare = 1;
  SetFieldText(s.DiskLabel, "KESTROVA");
  SetFieldText(s.SwImgPath, image.source());
  SetFieldText(s.SwDstFolder, "Software");
  s.FolderCount = SoftwareImage::kFolders;
  s.FileCount = SoftwareImage::kFiles;

  FaultScene scene{config, *job, bench, otherFile};
  if (c.fault) c.fault(scene);
  bench.RunOne(std::move(job));
  std::remove(otherFile.c_str());

  const bridge::PortRecord& r = bench.record(slot);
  EXPECT_EQ(StatusesOf(r), c.statuses);
  const int32_t result = c.statuses == kFaultCases[0].statuses ? 1 : -1;
  EXPECT_EQ(r.result, result);
  EXPECT_EQ(r.finalResult, result);
  EXPECT_EQ(r.progress, kProgressDone);
  EXPECT_EQ(bench.ProgressBeforeEnd(slot), c.progress);
  EXPECT_EQ(bench.bench().OpenHandleCount(), 0) << "no handle left open";
}

INSTANTIATE_TEST_SUITE_P(OneFaultPerStep, PortWorkerFaults, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace station

namespace station {
namespace {

// The USB 3 check and the read/write test size by the speed the port query
// gave: a speed the query could not read (255) is not SuperSpeed, but like
// every code above high speed it takes the large test.
struct SpeedCase {
  const char* name;
  const char* speed;   // where the bench places the product
  bool queryFails;     // the hub cannot be asked: speed 255
  int32_t usb3Status;  // with the USB 3.0 check on
  bool largeTest;      // the read/write test raised to 256 MB
};

void PrintTo(const SpeedCase& c, std::ostream* os) { *os << c.name; }

class PortSpeed : public ::testing::TestWithParam<SpeedCase> {
 protected:
  // Runs one worker on a fresh bench; `usb3Check` or the read/write test.
  bridge::PortRecord Run(bool usb3Check, uint64_t* written) {
    const SpeedCase& c = GetParam();
    sim::ProductConfig config = WorkerProduct("s", 25);
    config.placement.speed = c.speed;
    config.disk.sectors = 2 * 1024 * 1024;  // 1 GB
    WorkerBench bench({config});
    EXPECT_EQ(bench.Prepare(), 1);
    const int slot = bench.SlotOf(bench.product(0));
    if (c.queryFails) bridge::SetFieldText(bench.record(slot).hubName, "\\\\.\\no-such-hub");
    auto job = bench.Job(slot);
    job->controls = AllBoxesUsable();
    job->controls.FmtTypeComboBox = 1;
    job->settings.EnUSB30Check = usb3Check;
    job->settings.EnPartition = 1;
    job->settings.EnFormat = 1;
    job->settings.EnRWTest = !usb3Check;
    job->settings.RWDataSize = 1;
    bench.RunOne(std::move(job));
    const bridge::PortRecord& r = bench.record(slot);
    *written = r.driveLetter != 0 ? bench.bench().Moved(r.driveLetter, true) : 0;
    return r;
  }
};

TEST_P(PortSpeed, DecidesTheUsb3CheckAndTheTestSize) {
  const SpeedCase& c = GetParam();
  uint64_t written = 0;
  const bridge::PortRecord checked = Run(true, &written);
  EXPECT_EQ(checked.usb3CheckStatus, c.usb3Status);
  const bridge::PortRecord tested = Run(false, &written);
  EXPECT_EQ(tested.readWriteStatus, bridge::kStepPass);
  if (c.largeTest) {
    EXPECT_GE(written, 256u << 20);
  } else {
    EXPECT_LT(written, 128u << 20) << "the test keeps its set size";
  }
}

INSTANTIATE_TEST_SUITE_P(Speeds, PortSpeed,
                         ::testing::Values(SpeedCase{"SuperSpeed", "super", false, bridge::kStepPass, true},
                                           SpeedCase{"HighSpeed", "high", false, bridge::kStepFail, false},
                                           SpeedCase{"Unknown", "super", true, bridge::kStepFail, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace station

namespace station {
namespace {

// The QVS87x working copy of a short firmware file: the file's bytes, then
// zeros to its 256 KB, whatever the pass's block holds past the file.
TEST(PortWorkerWorkingCopy, IsZeroPastTheFile) {
  WorkerBench bench({WorkerProduct("copy", 21)});
  ASSERT_EQ(bench.Prepare(), 1);
  const int slot = bench.SlotOf(bench.product(0));
  constexpr uint32_t kFileLength = 0x18000;  // inside the first bank, which a running product takes
  PassState& pass = bench.pass();
  ASSERT_TRUE(pass.firmwareImage.Allocate());
  std::memset(pass.firmwareImage.data(), 0xEE, kFirmwareImageSize);
  const std::vector<uint8_t> file = Pattern(kFileLength, 21);
  std::memcpy(pass.firmwareImage.data(), file.data(), file.size());
  pass.firmwareImage.SetLength(kFileLength);
  bench.product(0).EnableTrace(true);

  auto job = bench.Job(slot);
  job->settings.EnFWUpdate = 1;
  bench.RunOne(std::move(job));
  EXPECT_EQ(bench.record(slot).firmwareStatus, bridge::kStepPass);

  int tailChunks = 0;
  for (const sim::TraceEntry& e : bench.product(0).TakeTrace()) {
    if (e.cdb.size() < 10 || e.cdb[0] != 0x3B || (e.cdb[1] & 0x1F) != 0x0E) continue;
    const uint32_t offset = static_cast<uint32_t>(e.cdb[3] << 16 | e.cdb[4] << 8 | e.cdb[5]);
    // Past the file, short of the first bank's checksum at its end.
    if (offset < kFileLength || offset + e.dataOut.size() > 0x1F000) continue;
    ++tailChunks;
    EXPECT_TRUE(std::all_of(e.dataOut.begin(), e.dataOut.end(), [](uint8_t b) { return b == 0; }))
        << "chunk at 0x" << std::hex << offset;
  }
  EXPECT_GT(tailChunks, 0);
}

}  // namespace
}  // namespace station
