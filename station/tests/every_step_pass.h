// A pass with every step on, as tests and the pass benchmark run it on the
// bench: QVS887 products, a firmware file they accept, a small software
// image, and the settings and controls that switch on the firmware and
// configuration update with the relink after it, partition, FAT32 format,
// the read/write test, the software copy and the folder compare. No gtest
// here: the benchmark uses it too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "station/eeprom_layout.h"
#include "station/production_pass.h"
#include "station/settings_block.h"

namespace station::testing {

// A QVS887 firmware image: its model tag, then bytes no flash holds by chance.
inline std::string Qvs887Firmware() {
  std::string bytes(0x10600, '\0');
  uint32_t seed = 887;
  for (char& b : bytes) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    b = static_cast<char>(seed);
  }
  bytes[4] = '\x88';
  bytes[5] = '\x70';
  return bytes;
}

// `count` QVS887 products with 512 MB disks, each with `keys` of its own;
// `speed` as the bench file names it ("super" raises the read/write test to
// 256 MB).
inline std::string StepProducts(int count, const std::string& keys = "", const std::string& speed = "super") {
  std::string text;
  for (int i = 0; i < count; ++i) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "5B%010d", i);
    text += "[product p" + std::to_string(i) + "]\nchip = 25\nspeed = " + speed + "\nserial = " + serial +
            "\ndisk.sectors = 1048576\n" + keys;
  }
  return text;
}

// Where a QVS887 keeps its configuration page in flash, and the serial
// number's descriptor in it (the Type 3 layout: 8-bit text after the
// descriptor's two header bytes).
inline constexpr uint32_t kQvs887ConfigAddress = 0xD000;
inline constexpr uint32_t kType3SerialDescriptor = 84;

// Writes the firmware file and the software image into `folder`, and
// switches every step on in `s` and `controls`, with the Type 3 layout the
// EEPROM type handler would choose. The read/write test moves `rwMB` MB.
inline void SetUpEveryStep(const std::filesystem::path& folder, SettingsBlock& s, PassControls& controls,
                           int32_t rwMB = 32) {
  std::filesystem::create_directories(folder / "image" / "Drivers");
  std::ofstream(folder / "fw.bin", std::ios::binary) << Qvs887Firmware();
  std::ofstream(folder / "image" / "Setup.exe", std::ios::binary) << std::string(70000, 'S');
  std::ofstream(folder / "image" / "Drivers" / "drv.sys", std::ios::binary) << std::string(4097, '\x7f');

  s.EnFWUpdate = s.EnEEPROMUpdate = s.MPPortReset = 1;
  s.EnPartition = s.EnFormat = s.EnRWTest = s.EnSWCopy = s.EnFolderCompare = 1;
  s.DiskFormat = 1;
  s.RWDataSize = rwMB;
  SetFieldText(s.DiskLabel, "KESTROVA");
  SetFieldText(s.FwFileName, (folder / "fw.bin").string());
  SetFieldText(s.SwDstFolder, "Software");
  SetFieldText(s.VenderID, "1D6B");
  SetFieldText(s.ProductID, "0887");
  SetFieldText(s.StringA, "Kestrova");
  SetFieldText(s.StringB, "Station Disk");
  SetFieldText(s.String3, "000000000101");
  s.String3Inc = 1;

  const EepromLayout& type3 = *FindEepromLayout(LayoutFamily::kStandard, 2);
  s.TableType = 3;
  ApplyLayoutOffsets(s, type3, true);
  LoadLayoutDefaults(s.OptionBlock, *type3.defaults);
  controls.identity.eepromLayoutIndex = type3.layoutIndex;

  const ControlState on{true, true, true};
  ControlSnapshot& c = controls.workers;
  c.PartitionCheckBox = c.FormatCheckBox = c.RWTestCheckBox = c.SWCopyChkBox = c.enFolderCPChk = on;
  c.FmtTypeComboBox = 1;  // FAT32
  controls.softwareImagePath = (folder / "image").string() + "\\*.*";
}

}  // namespace station::testing
