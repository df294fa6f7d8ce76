#include "station/pass_option_block.h"

#include "bridge/chip_identification.h"
#include "station/eeprom_layout.h"
#include "station/step_helpers.h"

namespace station {
namespace {

// String-source values of the block.
constexpr uint8_t kSourceMapped = 1;
constexpr uint8_t kSourceDefaultManufacturer = 1;
constexpr uint8_t kSourceDefaultProduct = 2;
constexpr uint8_t kSourceSerialInterleaved = 3;
constexpr uint8_t kSourceSerialDefault = 5;
constexpr uint8_t kSourceSerialFromDisk = 7;
constexpr uint8_t kSourceStringA = 10;
constexpr uint8_t kSourceSerialMapped = 10;
constexpr uint8_t kSourceStringB = 11;
constexpr uint8_t kSourceSerial = 12;
constexpr uint8_t kInquiryBits = 0x0A;
constexpr uint8_t kInquiryBlank = 0x01;
constexpr int32_t kStandbyByte = 45;
constexpr uint8_t kStandbyMask = 0x3F;
constexpr size_t kInquiryVendorChars = 8;
constexpr size_t kInquiryProductChars = 16;

bool BlankOrNull(const std::string& text, size_t blanks) {
  return IsNullText(text) || text == std::string(blanks, ' ');
}

// The layouts without Type-1 rules on the QVS646 family.
bool StandardType1(const IdentityControls& c) {
  return c.interleaveMode == kInterleaveNoQvs646 && c.eepromLayoutIndex == kLayoutIndexType1;
}

void PadSerial(char (&field)[70]) {
  const std::string_view text = FieldText(field);
  if (text.size() >= kPaddedSerialDigits) return;
  SetFieldText(field, std::string(kPaddedSerialDigits - text.size(), '0') + std::string(text));
}

}  // namespace

uint16_t DefaultProductId(unsigned chipType) {
  uint16_t id = 0x4;
  for (const char digit : bridge::ChipModelDigits(chipType)) {
    if (digit < '0' || digit > '9') return 0x4000;
    id = static_cast<uint16_t>(id << 4 | static_cast<uint16_t>(digit - '0'));
  }
  return id;
}

void PrepareOptionBlock(SettingsBlock& s, const IdentityControls& c, const DeviceMix& mix,
                        uint16_t firstChipTypeRev) {
  auto& block = s.OptionBlock;
  const auto& at = s.OptionOffsets;
  if (FieldText(s.VenderID).empty()) StoreId(block, at[kVidOffset], kDefaultVendorId);
  if (FieldText(s.ProductID).empty()) StoreId(block, at[kPidOffset], DefaultProductId(firstChipTypeRev & 0xFF));

  const bool interleave1 = c.interleaveMode == kInterleaveNoQvs646;
  const bool layout1 = c.eepromLayoutIndex == kLayoutIndexType1;
  const bool layout3 = c.eepromLayoutIndex == kLayoutIndexType3;
  const auto inquiryRule = [&] {
    const int32_t option = at[kOptionByteOffset];
    uint8_t flags = ByteAt(block, option);
    if (BlankOrNull(c.inquiryVendor, kInquiryVendorChars) && BlankOrNull(c.inquiryProduct, kInquiryProductChars))
      flags = static_cast<uint8_t>((flags & ~kInquiryBits) | kInquiryBlank);
    else
      flags |= kInquiryBits;
    StoreByte(block, option, flags);
  };

  bool padding = true;
  bool serialMapped = false;  // string A carries the serial number
  if (IsStringUnset(FieldText(s.StringA), at[kStringAOffset], block)) {
    StoreByte(block, at[kManufacturerIndexOffset], kSourceDefaultManufacturer);
    if (interleave1 && layout1 && c.stringAToSerial) {
      StoreByte(block, at[kSerialIndexOffset], kSourceSerialDefault);
      padding = false;
    } else if (interleave1 && layout3 && c.stringAToDiskString) {
      inquiryRule();
    }
  } else {
    StoreByte(block, at[kManufacturerIndexOffset], kSourceStringA);
    if (layout1 && c.stringAToSerial) {
      StoreByte(block, at[kManufacturerIndexOffset], kSourceMapped);
      StoreByte(block, at[kSerialIndexOffset], kSourceSerialMapped);
      serialMapped = true;
    } else if (layout3 && c.stringAToDiskString) {
      StoreByte(block, at[kManufacturerIndexOffset], kSourceMapped);
      inquiryRule();
    }
  }
  StoreByte(block, at[kProductIndexOffset],
            IsStringUnset(FieldText(s.StringB), at[kStringBOffset], block) ? kSourceDefaultProduct : kSourceStringB);

  // The serial source; a serial mapped onto string A keeps its own.
  uint8_t serialSource = kSourceSerial;
  if (IsStringUnset(FieldText(s.String3), at[kSerialOffset], block)) {
    serialSource = s.EnSNfromHDDSN == 1 ? kSourceSerialFromDisk : kSourceSerialDefault;
    padding = false;
  } else if (s.EnSNfromHDDSN == 1) {
    serialSource = kSourceSerialFromDisk;
    padding = false;
  } else if (interleave1) {
    serialSource = kSourceSerialInterleaved;
  }
  if (!serialMapped) StoreByte(block, at[kSerialIndexOffset], serialSource);
  if (StandardType1(c) && ByteAt(block, at[kSerialIndexOffset]) != kSourceSerialMapped)
    StoreByte(block, at[kSerialIndexOffset], kSourceSerialDefault);

  if (FieldText(s.StringC).empty()) SetFieldText(s.StringC, kDefaultStringC);

  if (padding && !s.EnBarcodeMode) {
    if (!StandardType1(c)) PadSerial(s.String3);
    else if (c.stringAToSerial) PadSerial(s.StringA);
  }

  // The standby byte is a Type 3 place; other layouts hold texts there.
  if (mix.StandbyTimerSupported && LayoutLeavesByte(s, kStandbyByte)) {
    uint8_t standby = ByteAt(block, kStandbyByte);
    if (mix.AnyQvs819Family) {
      const uint8_t low = s.StandbyTimer > 0 ? static_cast<uint8_t>((s.StandbyTimer + 1) & kStandbyMask) : 0;
      standby = static_cast<uint8_t>((standby & ~kStandbyMask) | low);
    } else {
      standby = static_cast<uint8_t>(s.StandbyTimer);
      const unsigned first = firstChipTypeRev & 0xFF;
      if (first == 8 || first == 15 || first == 16) ++standby;
    }
    StoreByte(block, kStandbyByte, standby);
  }
}

}  // namespace station
