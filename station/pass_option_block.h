// The configuration block as a pass completes it before its workers copy
// the settings: default IDs for empty ones, the string-source bytes from
// which strings are set and how string A is mapped, the default string C,
// the serial number padded to 12 digits, and the standby byte.
#pragma once

#include <cstdint>
#include <string>

#include "station/device_mix.h"
#include "station/settings_block.h"

namespace station {

inline constexpr uint16_t kDefaultVendorId = 0x6A3E;
inline constexpr char kDefaultStringC[] = "Orvanta";
inline constexpr size_t kPaddedSerialDigits = 12;

// The identity controls the block depends on, as the window shows them.
struct IdentityControls {
  std::string inquiryVendor;         // VendorStrEdit
  std::string inquiryProduct;        // ProdStrEdit
  bool stringAToSerial = false;      // StrA2SNChk checked
  bool stringAToDiskString = false;  // StrA2DiskStrChk checked
  int32_t interleaveMode = kInterleaveNoQvs646;
  int32_t eepromLayoutIndex = 0;
};

// The product ID a chip gets when none is set: the digit 4 and the chip's
// three model digits, read as hexadecimal (0x4649 for a QVS649).
uint16_t DefaultProductId(unsigned chipType);

void PrepareOptionBlock(SettingsBlock& settings, const IdentityControls& controls, const DeviceMix& mix,
                        uint16_t firstChipTypeRev);

}  // namespace station
