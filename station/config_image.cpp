#include "station/config_image.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "bridge/device_queries.h"
#include "bridge/storage_enumeration.h"
#include "bridge/vendor_commands.h"
#include "platform/byte_order.h"
#include "station/bridge_probes.h"
#include "station/eeprom_layout.h"
#include "station/usb_string_descriptor.h"

namespace station {
namespace {

constexpr size_t kHalf = kConfigBlockSize;
constexpr size_t kIdentifySerial = 20;
constexpr size_t kIdentifySerialSize = 20;
constexpr uint32_t kOddSectorBytes = 2048;
constexpr uint32_t kSecondsPerMinute = 60;
constexpr uint8_t kPageLayoutVersion = 10;

constexpr uint8_t Bit(int n) { return static_cast<uint8_t>(1u << n); }

void SetBit(uint8_t& byte, int n, bool on) {
  byte = on ? static_cast<uint8_t>(byte | Bit(n)) : static_cast<uint8_t>(byte & ~Bit(n));
}

// The block's fixed chip-option bytes, as far as the active layout has them:
// a byte that the layout's IDs or strings occupy is neither read nor
// written, so the options never change the identity.
class OptionBytes {
 public:
  OptionBytes(ConfigBlock& block, const SettingsBlock& settings) : block_(block), settings_(settings) {}

  [[nodiscard]] bool Has(size_t n) const { return LayoutLeavesByte(settings_, n); }
  // 0 for a byte the layout does not have.
  [[nodiscard]] uint8_t Get(size_t n) const { return Has(n) ? block_[n] : 0; }
  void Set(size_t n, uint8_t value) {
    if (Has(n)) block_[n] = value;
  }
  void SetBits(size_t n, uint8_t mask, bool on) {
    if (Has(n)) block_[n] = on ? static_cast<uint8_t>(block_[n] | mask) : static_cast<uint8_t>(block_[n] & ~mask);
  }
  void SetBit(size_t n, int bit, bool on) { SetBits(n, Bit(bit), on); }
  void PutBigEndian32(size_t n, uint32_t value) {
    if (Has(n) && Has(n + 1) && Has(n + 2) && Has(n + 3)) platform::PutBigEndian32(&block_[n], value);
  }

 private:
  ConfigBlock& block_;
  const SettingsBlock& settings_;
};

// The table's byte entries of the block from `source` (128 bytes).
void TakeTableBytes(const EepromTable& table, ConfigBlock& block, const uint8_t* source) {
  for (size_t i = 0; i < kConfigBlockSize; ++i)
    if (table[i] < 256) block[i] = source[i];
}

void PageAroundBlock(const ConfigBlock& block, ConfigPage& page, const uint8_t* upperHalf) {
  page.fill(0);
  std::copy(block.begin(), block.end(), page.begin());
  if (upperHalf) std::copy(upperHalf, upperHalf + kHalf, page.begin() + kHalf);
}

int MergeAt(bridge::ChipType chipType, ConfigBlock& block, ConfigPage& page,
            std::span<const uint8_t> device, size_t at) {
  if (device.size() < at || device.size() - at < kConfigPageSize) return 0;
  const uint8_t* config = device.data() + at;
  TakeTableBytes(EepromDefaultTable(chipType), block, config);
  PageAroundBlock(block, page, config + kHalf);
  return 1;
}

// The chip 8 option bits, by its configuration-table type t and whether the
// drive uses long or multiple logical sectors.
void ApplyQvs639Options(int t, bool longSectors, const StationOptions& options, OptionBytes& block) {
  if (options.EnMultiSec) {
    if (t == 13) {
      block.SetBit(117, 2, true);
    } else if (t == 14) {
      block.SetBits(83, Bit(6) | Bit(7), false);
    } else if (t > 48) {
      block.SetBit(83, 4, true);
      block.SetBit(10, 0, true);
    } else if (t == 48) {
      if (longSectors) block.SetBit(83, 4, true);
    } else if (t >= 10 && t <= 47) {
      if (longSectors) block.SetBit(117, 2, true);
    }
  } else if (t == 13) {
    block.SetBit(117, 2, false);
  } else {
    block.SetBits(83, Bit(6) | Bit(7), true);
  }
  if ((options.EnOver2TBMulLun && t == 50) || (!options.EnOver2TBMulLun && (t == 48 || t == 49)))
    block.SetBit(11, 4, true);
}

// The page part: version, disk string, manufacturer descriptor, options,
// ODD size and standby timer.
void BuildPage(bridge::ChipType chipType, const SettingsBlock& settings,
               const StationOptions& options, ConfigPage& page) {
  page[6] = kPageLayoutVersion;

  std::fill_n(page.begin() + kPageStringA, kPageStringASize, 0);
  const std::string_view stringA = FieldText(settings.StringA);
  std::copy_n(stringA.begin(), std::min(stringA.size(), kPageStringASize), page.begin() + kPageStringA);

  // The area is cleared here, so the descriptor writer clears nothing more.
  std::fill_n(page.begin() + kPageManufacturerArea, kPageManufacturerAreaSize, 0);
  PutUsbStringDescriptor(FieldText(settings.StringC), kPageManufacturerChars, page,
                         settings.OptionOffsets[6], 0, 0, settings.TableType);

  if (chipType == 19) {
    // Both on at once is not a valid combination for this chip: this page
    // gets both off (the station follows after the pass).
    const bool both = SwitchesOffMultiSecOptions(chipType, options);
    SetBit(page[kPageOptions], 5, options.EnMultiSec && !both);
    SetBit(page[kPageOptions], 4, options.EnOver2TBMulLun && !both);
    if (settings.ODDSize > 0) {
      SetBit(page[kPageOptions], 2, true);
      platform::PutBigEndian32(&page[kPageOddSize], static_cast<uint32_t>(settings.ODDSize) * kOddSectorBytes);
    }
  } else {
    SetBit(page[kPageOptions], 5, options.EnMultiSec == 1);
  }

  if (settings.StandbyTimer > 0) {
    page[45] = 0;
    SetBit(page[kPageStandbyFlags], 3, true);
    platform::PutBigEndian32(&page[kPageStandbyTime],
                             static_cast<uint32_t>(settings.StandbyTimer) * kSecondsPerMinute);
  } else if (settings.StandbyTimer == 0) {
    SetBit(page[kPageStandbyFlags], 3, false);
    platform::PutBigEndian32(&page[kPageStandbyTime], 0);
  }
}

}  // namespace

int ImageCarriesConfig(bridge::ChipType chipType, bridge::LoadedImage image) {
  if (!image.loaded()) return 0;
  const ImageConfigPlace place = ImageConfigPlaceOf(chipType);
  if (image.length < place.offset || image.length - place.offset < kConfigPageSize) return 0;
  return std::memcmp(image.data + place.signature, kMakerSignature, sizeof kMakerSignature) == 0 ? 1
                                                                                               : 0;
}

int GetDefaultEepromConfig(bridge::ChipType chipType, ConfigBlock& block, ConfigPage& page,
                           int useImage, bridge::LoadedImage image) {
  if (chipType != 13 && !UsesConfigPage(chipType)) return 1;
  const EepromTable& table = EepromDefaultTable(chipType);
  const bool fromImage = useImage && ImageCarriesConfig(chipType, image);
  const uint8_t* config = fromImage ? image.data + ImageConfigPlaceOf(chipType).offset : nullptr;
  if (fromImage) {
    TakeTableBytes(table, block, config);
  } else {
    for (size_t i = 0; i < kConfigBlockSize; ++i)
      if (table[i] < 256) block[i] = static_cast<uint8_t>(table[i]);
  }
  if (!UsesConfigPage(chipType)) return 1;
  PageAroundBlock(block, page, fromImage ? config + kHalf : nullptr);
  if (!fromImage) {
    page[224] = 'H';
    page[225] = 'D';
    page[240] = 'B';
    page[241] = 'C';
    page[254] = kMakerSignature[0];
    page[255] = kMakerSignature[1];
  }
  return 1;
}

int MergeDeviceConfigQVS879(ConfigBlock& block, ConfigPage& page, std::span<const uint8_t> flashImage) {
  return MergeAt(20, block, page, flashImage, kQvs879ConfigOffset);
}
int MergeDeviceConfigQVS887(ConfigBlock& block, ConfigPage& page, std::span<const uint8_t> device) {
  return MergeAt(25, block, page, device, 0);
}
int MergeDeviceConfigQVS884(ConfigBlock& block, ConfigPage& page, std::span<const uint8_t> device) {
  return MergeAt(26, block, page, device, 0);
}
int MergeDeviceConfigQVS891(ConfigBlock& block, ConfigPage& page, std::span<const uint8_t> device) {
  return MergeAt(27, block, page, device, 0);
}
int MergeDeviceConfigQVS894(ConfigBlock& block, ConfigPage& page, std::span<const uint8_t> device) {
  return MergeAt(28, block, page, device, 0);
}

int BuildEepromImage(const char* devicePath, bridge::ChipType chipType, SettingsBlock& settings,
                     const StationOptions& options, ConfigBlock& block, ConfigPage& page) {
  if (settings.StrBFromHDSN) {
    uint8_t identify[bridge::kIdentifyDataSize] = {};
    if (bridge::IdentifyDevice(devicePath, identify, bridge::UsesSatIdentify(chipType) ? 1 : 0)) {
      char serial[kIdentifySerialSize + 1] = {};
      bridge::CopyIdentifyString(identify, serial, kIdentifySerial, kIdentifySerialSize);
      SetFieldText(settings.StringB, serial);
    }
  }

  OptionBytes bytes(block, settings);
  if (chipType == 8) {
    const int t = bridge::ReadConfigType(devicePath);
    const bool longSectors = IsIdentifyBitSet(devicePath, 0) == 1;
    ApplyQvs639Options(t, longSectors, options, bytes);
  }

  if ((chipType == 17 || chipType == 18) && options.QVB819REU) {
    // A register that cannot be read leaves the byte as it was.
    if (const uint8_t mode = ReadRegister703BMode(devicePath)) bytes.Set(117, mode);
  }

  if (chipType == 17) {
    if (IsRegister70C8Bit3Set(devicePath) == 1 && (bytes.Get(45) & 0x3F) == 0)
      bytes.SetBit(45, 0, true);
    if (options.QVB819WDHDD) bytes.SetBit(124, 0, true);
    bytes.SetBit(83, 4, !options.EnMultiSec);
  }

  if (chipType == 18) {
    bytes.SetBit(83, 4, !options.EnMultiSec);
    if (settings.ODDSize > 0) bytes.PutBigEndian32(118, static_cast<uint32_t>(settings.ODDSize) * kOddSectorBytes);
  }

  if (chipType == 13) {
    bytes.SetBits(47, Bit(1) | Bit(2), false);
    if (!options.EnOver2TBMulLun) bytes.SetBit(47, 2, true);
    if (options.QV843PWMode) bytes.SetBit(47, 1, true);
    if (options.EnMultiSec == 0) bytes.SetBit(46, 7, false);
    if (options.EnMultiSec == 1 || options.EnMultiSec == 2) bytes.SetBit(46, 7, true);
  }

  if (chipType == 16) {
    bytes.SetBit(10, 0, options.EnMultiSec);
    bytes.SetBit(83, 4, options.EnMultiSec);
    bytes.SetBit(11, 4, options.EnOver2TBMulLun);
  }

  if (UsesConfigPage(chipType)) BuildPage(chipType, settings, options, page);
  return 0;
}

}  // namespace station
