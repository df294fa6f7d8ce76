// Firmware through the library on a READ/WRITE BUFFER bridge: the file
// checks, erase to the boot ROM, the manufacturing image, the product
// firmware and its activation, and the check against the file.
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/firmware_update.h"
#include "bridge/tests/bench_fixture.h"
#include "qvfw/tests/library_bench.h"
#include "station/tests/worker_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

// A QVS887 firmware file: its model tag reads "887".
std::string WriteFirmwareFile(const testing::fs::path& folder, const std::string& name,
                              uint8_t tagHigh, uint8_t tagLow) {
  std::vector<uint8_t> file = station::testing::Pattern(bridge::kQvs887UpdateLength + 0x200, 887);
  file[4] = tagHigh;
  file[5] = tagLow;
  return testing::WriteBytes(folder, name, file);
}

sim::ProductConfig Qvs887(const std::string& name) {
  sim::ProductConfig config;
  config.name = name;
  config.chipType = 25;
  config.usbSerial = "SN" + name;
  config.disk.sectors = 65536;
  config.placement.resetNewPath = true;
  return config;
}

int Mode(LibraryBench& lib, const std::string& path) {
  int mode = 0;
  return lib.sdk().QV_GetRunningCodeMode(path.c_str(), &mode) ? mode : 0;
}

TEST(FirmwareUpdate, EraseBootRomManufacturingImageProductFirmwareActivation) {
  LibraryBench lib({Qvs887("fw")});
  ASSERT_TRUE(lib.bound());
  const auto& sdk = lib.sdk();
  const std::string file = WriteFirmwareFile(lib.folder(), "fw887.bin", 0x08, 0x87);
  const std::string other = WriteFirmwareFile(lib.folder(), "fw891.bin", 0x08, 0x91);
  std::string path = lib.List().at(0);
  const auto where = lib.LocationOf(path);
  ASSERT_TRUE(where);
  EXPECT_EQ(Mode(lib, path), kModeFirmware);

  ASSERT_NE(sdk.QV_SetCloneProduct(0), 0);
  ASSERT_NE(sdk.QV_SetFWBinFilePath(file.c_str()), 0);
  EXPECT_NE(sdk.QV_CheckLoadBinFileMatch(path.c_str(), file.c_str()), 0);
  EXPECT_EQ(sdk.QV_CheckLoadBinFileMatch(path.c_str(), other.c_str()), 0) << "another chip's file";
  EXPECT_EQ(sdk.QV_CheckChipFW(path.c_str(), file.c_str()), 0) << "not written yet";

  // Erased and reset, the bridge comes back in its boot ROM.
  ASSERT_NE(sdk.QV_SerialFlashErase(path.c_str()), 0);
  ASSERT_NE(sdk.QV_ChipReset(path.c_str()), 0);
  auto again = lib.Refind(*where);
  ASSERT_TRUE(again);
  path = *again;
  EXPECT_EQ(Mode(lib, path), kModeInternalCode);

  ASSERT_NE(sdk.QV_UpdateMFGOnly(path.c_str()), 0);
  again = lib.Refind(*where);
  ASSERT_TRUE(again);
  path = *again;
  EXPECT_EQ(sdk.QV_UpdateMFGOnly(path.c_str()), 0) << "no boot ROM to take it any more";

  ASSERT_NE(sdk.QV_FWUpdateProgrammingNoCustomizedSetting(path.c_str()), 0);
  ASSERT_NE(sdk.QV_ActiveFirmware(path.c_str()), 0);
  again = lib.Refind(*where);
  ASSERT_TRUE(again);
  path = *again;
  EXPECT_EQ(Mode(lib, path), kModeFirmware);
  EXPECT_NE(sdk.QV_CheckChipFW(path.c_str(), file.c_str()), 0);

  // One byte of the read-back changed: the check must see it.
  sim::Fault corrupt = bridge::testing::MakeFault(sim::Fault::Kind::CorruptData, {0x3C});
  corrupt.skip = 2;
  corrupt.offset = 0x123;
  corrupt.xorMask = 0x01;
  lib.product(0).AddFault(corrupt);
  EXPECT_EQ(sdk.QV_CheckChipFW(path.c_str(), file.c_str()), 0);
  EXPECT_EQ(lib.product(0).FaultsFired(), 1);
}

TEST(FirmwareUpdate, AFileThatDoesNotLoadOrFitTheCloneSettingWritesNothing) {
  LibraryBench lib({Qvs887("nofile")});
  const auto& sdk = lib.sdk();
  const std::string path = lib.List().at(0);
  const std::string file = WriteFirmwareFile(lib.folder(), "fw887.bin", 0x08, 0x87);
  const std::string empty = (lib.folder() / "empty.bin").string();
  std::ofstream(empty).close();
  struct Case {
    const char* what;
    std::string file;
    int clone;
  };
  const Case cases[] = {
      {"no file", (lib.folder() / "missing.bin").string(), 0},
      {"an empty file", empty, 0},
      {"a folder", lib.folder().string(), 0},
      {"no clone marks with the clone setting on", file, 1},
  };
  lib.product(0).EnableTrace(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    (void)sdk.QV_SetFWBinFilePath(c.file.c_str());
    ASSERT_NE(sdk.QV_SetCloneProduct(c.clone), 0);
    (void)lib.product(0).TakeTrace();
    EXPECT_EQ(sdk.QV_FWUpdateProgrammingNoCustomizedSetting(path.c_str()), 0);
    for (const sim::TraceEntry& e : lib.product(0).TakeTrace()) {
      EXPECT_NE(e.cdb[0], 0x3B) << "a WRITE BUFFER reached the product";
    }
  }
}

}  // namespace
}  // namespace qvfw

namespace qvfw {
namespace {

// The file check covers every listed product and the clone marks.
TEST(FirmwareFileMatch, EveryListedChipAndTheCloneSetting) {
  struct Case {
    const char* name;
    std::vector<uint8_t> chips;
    bool cloneMarks;
    int cloneSetting;
    int result;
  };
  const Case cases[] = {
      {"two of the file's chip", {25, 25}, false, 0, 1},
      {"one of another chip among them", {25, 27}, false, 0, 0},
      {"clone marks with the clone setting off", {25}, true, 0, 0},
      {"clone marks with the clone setting on", {25}, true, 1, 1},
      {"no clone marks with the clone setting on", {25}, false, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<sim::ProductConfig> products;
    for (size_t i = 0; i < c.chips.size(); ++i) {
      sim::ProductConfig config = Qvs887("m" + std::to_string(i));
      config.chipType = c.chips[i];
      products.push_back(config);
    }
    LibraryBench lib(products);
    std::vector<uint8_t> file = station::testing::Pattern(0x40000, 25);
    file[4] = 0x08;
    file[5] = 0x87;
    file[0x1FFFC] = 0x11;
    file[0x3FFFC] = c.cloneMarks ? 0x22 : 0x11;
    for (size_t at : {0x1FFFDu, 0x1FFFEu, 0x1FFFFu, 0x3FFFDu, 0x3FFFEu, 0x3FFFFu}) file[at] = 0;
    const std::string path = testing::WriteBytes(lib.folder(), "file.bin", file);
    ASSERT_NE(lib.sdk().QV_SetCloneProduct(c.cloneSetting), 0);
    const std::vector<std::string> listed = lib.List();
    ASSERT_EQ(listed.size(), c.chips.size());
    EXPECT_EQ(lib.sdk().QV_CheckLoadBinFileMatch(listed[0].c_str(), path.c_str()), c.result);
  }
}

}  // namespace
}  // namespace qvfw

namespace qvfw {
namespace {

// Each family's flow through the library: firmware with the identity entry,
// then the check against the file.
class FamilyUpdate : public ::testing::TestWithParam<int> {};

TEST_P(FamilyUpdate, FirmwareAndIdentityThenTheCheckAgainstTheFile) {
  const uint8_t chipType = static_cast<uint8_t>(GetParam());
  sim::ProductConfig config = Qvs887("family" + std::to_string(chipType));
  config.chipType = chipType;
  LibraryBench lib({config});
  // The first FF 04 chips take 32 KB, the header-keeping and DF families
  // check 64 KB at the most.
  const bool dfOrHeader = chipType == 9 || (chipType >= 11 && chipType <= 13);
  const size_t size = chipType == 1 ? 0x8000 : dfOrHeader ? 0x10000 : 0x10600;
  std::vector<uint8_t> file = station::testing::Pattern(size, chipType);
  for (size_t i = 0; i + 1 < file.size(); ++i) {
    if (file[i] == 'Q' && file[i + 1] == 'V') file[i + 1] = 'W';  // no configuration of its own
  }
  const std::string fileName = testing::WriteBytes(lib.folder(), "fw.bin", file);
  const auto& sdk = lib.sdk();
  const std::string path = lib.List().at(0);
  ASSERT_NE(sdk.QV_SetCloneProduct(0), 0);
  ASSERT_NE(sdk.QV_SetFWBinFilePath(fileName.c_str()), 0);
  ASSERT_NE(sdk.QV_InitialCustomizedSettingTable(), 0);
  ASSERT_NE(sdk.QV_EnableUpdateVID(path.c_str(), 1), 0);
  ASSERT_NE(sdk.QV_SetVIDValue(path.c_str(), "6A3E"), 0);
  EXPECT_NE(sdk.QV_FWUpdateProgrammingEX(path.c_str()), 0);
  EXPECT_NE(sdk.QV_CheckChipFW(path.c_str(), fileName.c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(ChipTypes, FamilyUpdate, ::testing::Values(1, 9, 11, 12, 13, 19, 20, 25, 26, 27, 28),
                         [](const auto& info) { return "ChipType" + std::to_string(info.param); });

}  // namespace
}  // namespace qvfw
