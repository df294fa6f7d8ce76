// Each fault a product can have on the station, on the bench: gone in the
// middle of a flash write, of a firmware download and of a format; a reset
// it never comes back from; CHECK CONDITION on one verify read; a volume
// that fills during the copy; a command slower than its time-out. Each
// gives 0 within its bound of station time and leaves no handle open.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/chip_identification.h"
#include "bridge/df_flash_programming.h"
#include "bridge/firmware_update.h"
#include "bridge/firmware_verification.h"
#include "bridge/loaded_image.h"
#include "bridge/tests/bench_fixture.h"
#include "disk/device_lock.h"
#include "disk/fat32_format.h"
#include "disk/partition_layout.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "sim/bench.h"
#include "station/relink.h"
#include "station/software_copy.h"
#include "station/tests/worker_bench.h"

namespace station {
namespace {

namespace fs = std::filesystem;
using bridge::testing::MakeFault;
using testing::Pattern;

sim::ProductConfig Product(uint8_t chipType) {
  sim::ProductConfig p = testing::WorkerProduct("fault", chipType);
  p.disk.sectors = 256 * 1024;  // 128 MB
  p.volume.autoLetter = false;
  p.volume.letters = "E";
  return p;
}

fs::path Scratch(const std::string& name) {
  const fs::path path = testing::ScratchPath("faults-" + name);
  fs::remove_all(path);
  fs::create_directories(path);
  return path;
}

struct FaultCase {
  const char* name;
  uint64_t boundMs;  // station time the failure may take at most
  // Sets up its bench (kept in `hold`), runs the operation, gives its result.
  std::function<int(std::shared_ptr<sim::Bench>& hold)> run;
};

class FaultPaths : public ::testing::TestWithParam<FaultCase> {
 protected:
  platform::ScopedManualClock manual_;  // station time is what the code slept
};

TEST_P(FaultPaths, GivesZeroWithinItsBoundAndLeavesNoHandle) {
  std::shared_ptr<sim::Bench> bench;
  const uint64_t before = platform::GetTickCount64();
  EXPECT_EQ(GetParam().run(bench), 0);
  const uint64_t took = platform::GetTickCount64() - before;
  EXPECT_LE(took, GetParam().boundMs);
  ASSERT_TRUE(bench);
  EXPECT_EQ(bench->OpenHandleCount(), 0);
}

// The operation's result, or -4 when the armed fault never came.
int Fired(const sim::Product& product, int result) { return product.FaultsFired() > 0 ? result : -4; }

// A bench of one product, installed for the rest of the case.
struct OneProduct {
  explicit OneProduct(const sim::ProductConfig& p)
      : bench(std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{p})), installed(bench) {}
  std::string path() { return bench->product(0).path(); }
  std::shared_ptr<sim::Bench> bench;
  platform::ScopedBackend installed;
};

int FlashWriteGone(std::shared_ptr<sim::Bench>& hold) {
  OneProduct one(Product(11));
  hold = one.bench;
  sim::Fault gone = MakeFault(sim::Fault::Kind::Vanish, {0xFF, 0x04, 0x11});  // the flash write
  gone.skip = 1;  // the second of its two chunks
  one.bench->product(0).AddFault(gone);
  const std::vector<uint8_t> image = Pattern(0x4000, 11);
  const int result =
      bridge::ProgramFlashLegacy(one.path().c_str(), image.data(), static_cast<uint32_t>(image.size()));
  return Fired(one.bench->product(0), result);
}

int DownloadGone(std::shared_ptr<sim::Bench>& hold) {
  OneProduct one(Product(27));
  hold = one.bench;
  sim::Fault gone = MakeFault(sim::Fault::Kind::Vanish, {0x3B});
  gone.skip = 3;
  one.bench->product(0).AddFault(gone);
  const std::vector<uint8_t> file = Pattern(0x10600, 27);
  const bridge::LoadedImage image{file.data(), static_cast<uint32_t>(file.size())};
  return Fired(one.bench->product(0),
               bridge::UpdateFirmwareQVS891(one.path().c_str(), 0, bridge::kQvs891UpdateLength, false, nullptr,
                                            false, true, image));
}

int FormatGone(std::shared_ptr<sim::Bench>& hold) {
  sim::ProductConfig p = Product(27);
  p.volume.fileSystem = "";
  OneProduct one(p);
  hold = one.bench;
  const std::string path = one.path();
  if (disk::CreateDiskLayout(path.c_str()) != 1) return -2;
  char letter = 0;
  for (int i = 0; i < 101 && !disk::FindDriveLetter(path.c_str(), &letter); ++i) platform::Sleep(1000);
  if (letter == 0) return -3;
  sim::SystemFault gone;
  gone.op = sim::SystemOp::Write;
  gone.skip = 6;
  gone.vanish = true;
  one.bench->AddSystemFault(gone);
  g_nHDDAccessRetry.store(5);
  disk::Fat32FormatRequest request;
  request.label = "GONE";
  const int result = disk::FormatFat32(letter, request, 1);
  return one.bench->product(0).Online() ? -4 : result;  // it must have left
}

int ResetNeverReturns(std::shared_ptr<sim::Bench>& hold) {
  sim::ProductConfig p = Product(27);
  p.afterReset = sim::AfterReset::NeverBack;
  auto bench = std::make_unique<testing::WorkerBench>(std::vector<sim::ProductConfig>{p});
  if (bench->Prepare() != 1) return -2;
  hold = std::shared_ptr<sim::Bench>(bench->bench().shared_from_this());
  int failFlag = 0;
  const bool back = RelinkAfterReset(bench->pass(), bench->record(bench->SlotOf(bench->product(0))),
                                     ResetKind::Bridge, 10, 0, failFlag);
  return back ? 1 : 0;
}

int VerifyReadCheckCondition(std::shared_ptr<sim::Bench>& hold) {
  OneProduct one(Product(27));
  hold = one.bench;
  const std::vector<uint8_t> file = Pattern(0x10600, 27);
  const bridge::LoadedImage image{file.data(), static_cast<uint32_t>(file.size())};
  if (bridge::UpdateFirmwareQVS891(one.path().c_str(), 0, bridge::kQvs891UpdateLength, false, nullptr, false, true,
                                   image) != 1)
    return -2;
  const fs::path folder = Scratch("verify");
  const std::string name = (folder / "firmware.bin").string();
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                              static_cast<std::streamsize>(file.size()));
  sim::Fault once = MakeFault(sim::Fault::Kind::CheckCondition, {0x3C});
  once.skip = 2;
  one.bench->product(0).AddFault(once);
  const int result = bridge::VerifyFirmwareWithFile(one.path().c_str(), name.c_str(), 27, 0, false);
  fs::remove_all(folder);
  return Fired(one.bench->product(0), result);
}

int CopyFillsTheVolume(std::shared_ptr<sim::Bench>& hold) {
  sim::ProductConfig p = Product(27);
  p.volume.freeBytes = 1u << 20;
  OneProduct one(p);
  hold = one.bench;
  const fs::path image = Scratch("copy");
  fs::create_directories(image / "Drivers");
  std::ofstream(image / "Setup.exe", std::ios::binary) << std::string(700000, 'S');
  std::ofstream(image / "Drivers" / "drv.sys", std::ios::binary) << std::string(700000, 'D');
  const int result = CopySoftwareImage(image.string() + "\\*.*", "E:\\Image");
  fs::remove_all(image);
  return result;
}

int CommandTimesOut(std::shared_ptr<sim::Bench>& hold) {
  OneProduct one(Product(27));
  hold = one.bench;
  sim::Fault slow = bridge::testing::Always(sim::Fault::Kind::Delay, {});
  slow.delayMs = 60000;
  one.bench->product(0).AddFault(slow);
  return Fired(one.bench->product(0), bridge::IdentifyChipType(one.path().c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    EachFault, FaultPaths,
    // Bounds: a flash status wait is 500 polls 10 ms apart; a new volume
    // shows 2 s after its layout and the formatter tries 5 times a second
    // apart; the re-find tries 10 times a second apart after a 500 ms pause;
    // a command waits its 10 s time-out, 3 tries at most.
    ::testing::Values(FaultCase{"FlashWriteGone", 6000, FlashWriteGone},
                      FaultCase{"DownloadGone", 1000, DownloadGone},
                      FaultCase{"FormatGone", 7000, FormatGone},
                      FaultCase{"ResetNeverReturns", 11000, ResetNeverReturns},
                      FaultCase{"VerifyReadCheckCondition", 1000, VerifyReadCheckCondition},
                      FaultCase{"CopyFillsTheVolume", 1000, CopyFillsTheVolume},
                      FaultCase{"CommandTimesOut", 30000, CommandTimesOut}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace station
