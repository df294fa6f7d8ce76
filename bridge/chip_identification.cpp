// Chip identification: the INQUIRY chip code first, then the
// chip-information block, then the bridge id class of a bridge that runs
// only its boot code; the revision text block refines some models.
#include "bridge/chip_identification.h"

#include <cstring>

#include "bridge/vendor_commands.h"

namespace bridge {
namespace {

constexpr size_t kChipCodeOffset = 36;
constexpr size_t kChipCodeLength = 4;
constexpr char kChipCodeLead = 'q';

constexpr uint8_t kChipInfoMark0 = 0xF4;
constexpr uint8_t kChipInfoMark1 = 0xE7;
constexpr size_t kChipInfoDigits = 8;
constexpr size_t kChipInfoRevision = 11;

constexpr uint32_t kBridgeIdLength = 2;
constexpr unsigned kBridgeClassShift = 5;
constexpr uint8_t kBridgeClassMask = 0x03;

constexpr size_t kConfigTypeByte = 8;
constexpr size_t kConfigLayoutByte = 18;
constexpr uint8_t kConfigTypeBase = 0xA0;
constexpr uint8_t kQvs639LayoutMark = 0xD2;
constexpr uint8_t kConfigType11 = 0xAB;

// Configuration-type bytes that do not follow byte - 0xA0.
struct ConfigTypeException {
  uint8_t typeByte;
  int layoutMark;  // byte 18 required, -1: any
  int configType;
};
constexpr ConfigTypeException kConfigTypeExceptions[] = {
    {kConfigType11, kQvs639LayoutMark, 50},
    {0xC2, -1, 13},
    {0xC4, -1, 14},
};

// IdentifyChipType: revision texts that refine a ChipType 4 or 14, tested in
// this order, each on its own length.
struct RevisionRefinement {
  std::string_view prefix;
  ChipType chipType;
};
constexpr RevisionRefinement kRevisionRefinements[] = {
    {"q645C1", 3}, {"q649C0", 5}, {"q649E", 7}, {"q649C3", 6}, {"q647A1", 15}, {"q647A3", 16},
};

// IdentifyChipTypeAndRevision: the revision text decides type and revision
// number from its character 5.
enum class RevisionRule { DigitPlusOne, CharacterPlusOne };
struct RevisionFamily {
  std::string_view prefix;
  ChipType chipType;
  RevisionRule rule;
};
constexpr RevisionFamily kRevisionFamilies[] = {
    {"q645C", 1, RevisionRule::DigitPlusOne},
    {"q649C", 4, RevisionRule::DigitPlusOne},
    {"q649E", 7, RevisionRule::CharacterPlusOne},
    {"q647A", 15, RevisionRule::DigitPlusOne},
};
constexpr std::string_view kQvs647A3 = "q647A3";
constexpr ChipType kQvs647A3Type = 16;
constexpr size_t kRevisionCharacter = 5;

bool StartsWith(const uint8_t* bytes, std::string_view prefix) {
  return std::memcmp(bytes, prefix.data(), prefix.size()) == 0;
}

ChipType FromChipCode(const uint8_t* inquiry) {
  if (inquiry[kChipCodeOffset] != static_cast<uint8_t>(kChipCodeLead)) return kChipTypeNone;
  for (const ChipNumber& number : kChipNumbers) {
    if (StartsWith(inquiry + kChipCodeOffset + 1, number.digits)) return number.chipType;
  }
  return kChipTypeNone;
}

ChipType FromChipDigits(const uint8_t* digits) {
  for (const ChipNumber& number : kChipNumbers) {
    if (StartsWith(digits, number.digits)) return number.chipType;
  }
  return kChipTypeNone;
}

bool IsValidChipInfo(const uint8_t* info) {
  return info[0] == kChipInfoMark0 && info[1] == kChipInfoMark1;
}

// Steps shared by both identifications: the chip code, else the bridge id
// and the chip-information block. `fromChipInfo` is set when the block's
// digits decided.
ChipType IdentifyBase(const char* devicePath, bool* fromChipInfo,
                      uint8_t (&info)[kChipInfoLength]) {
  *fromChipInfo = false;
  uint8_t inquiry[kInquiryIdentifyLength] = {};
  if (!Inquiry(devicePath, inquiry, sizeof(inquiry))) return kChipTypeNone;

  static_assert(kChipCodeOffset + kChipCodeLength <= kInquiryIdentifyLength);
  if (const ChipType byCode = FromChipCode(inquiry); byCode != kChipTypeNone) return byCode;

  uint8_t id[kBridgeIdLength] = {};
  if (!ReadBridgeId(devicePath, id)) return kChipTypeNone;

  std::memset(info, 0, sizeof(info));
  if (!ReadChipInfo(devicePath, info, sizeof(info))) {
    return static_cast<ChipType>(kBootCodeChipTypeBase +
                                 ((id[0] >> kBridgeClassShift) & kBridgeClassMask));
  }
  if (!IsValidChipInfo(info)) return kChipTypeNone;
  const ChipType byDigits = FromChipDigits(info + kChipInfoDigits);
  *fromChipInfo = byDigits != kChipTypeNone;
  return byDigits;
}

bool ReadRevisionText(const char* devicePath, uint8_t (&block)[kRevisionBlockLength]) {
  std::memset(block, 0, sizeof(block));
  return ReadBridgeBlock30(devicePath, block, sizeof(block)) != 0;
}

bool ReadConfigTypeBlock(const char* devicePath, uint8_t (&block)[kConfigTypeLength]) {
  std::memset(block, 0, sizeof(block));
  return ReadConfigBlock(devicePath, block, sizeof(block)) != 0;
}

}  // namespace

ChipType IdentifyChipType(const char* devicePath) {
  bool fromChipInfo = false;
  uint8_t info[kChipInfoLength] = {};
  ChipType chipType = IdentifyBase(devicePath, &fromChipInfo, info);
  if (chipType != 4 && chipType != 14) return chipType;

  uint8_t block[kRevisionBlockLength];
  if (!ReadRevisionText(devicePath, block)) return chipType;
  for (const RevisionRefinement& refinement : kRevisionRefinements) {
    if (StartsWith(block, refinement.prefix)) return refinement.chipType;
  }
  return chipType;
}

uint16_t IdentifyChipTypeAndRevision(const char* devicePath) {
  bool fromChipInfo = false;
  uint8_t info[kChipInfoLength] = {};
  ChipType chipType = IdentifyBase(devicePath, &fromChipInfo, info);
  uint8_t revision = fromChipInfo ? static_cast<uint8_t>(info[kChipInfoRevision] - '0') : 0;

  if (chipType == 4 || chipType == 1 || chipType == 14) {
    uint8_t block[kRevisionBlockLength];
    if (ReadRevisionText(devicePath, block)) {
      const uint8_t c = block[kRevisionCharacter];
      for (const RevisionFamily& family : kRevisionFamilies) {
        if (!StartsWith(block, family.prefix)) continue;
        chipType = family.chipType;
        if (chipType == 15 && StartsWith(block, kQvs647A3)) chipType = kQvs647A3Type;
        revision = family.rule == RevisionRule::DigitPlusOne
                       ? static_cast<uint8_t>(c - '0' + 1)
                       : static_cast<uint8_t>(c + 1);
        break;
      }
    } else if (chipType == 1) {
      revision = 1;
    }
  }

  if (chipType == 8 || chipType == 17) revision = static_cast<uint8_t>(ReadConfigType(devicePath));
  return static_cast<uint16_t>(chipType | (revision << 8));
}

int IsChipInfoVersion2(const char* devicePath) {
  uint8_t info[kChipInfoLength] = {};
  if (!ReadChipInfo(devicePath, info, sizeof(info))) return 0;
  return info[6] == 2 && info[7] == 0 ? 1 : 0;
}

int ReadConfigType(const char* devicePath) {
  uint8_t block[kConfigTypeLength];
  if (!ReadConfigTypeBlock(devicePath, block)) return 0;
  const uint8_t typeByte = block[kConfigTypeByte];
  for (const ConfigTypeException& exception : kConfigTypeExceptions) {
    if (typeByte != exception.typeByte) continue;
    if (exception.layoutMark >= 0 && block[kConfigLayoutByte] != exception.layoutMark) continue;
    return exception.configType;
  }
  return static_cast<int>(typeByte) - kConfigTypeBase;
}

int CheckConfigSignature(const char* devicePath, ChipType chipType) {
  if (chipType != 8) return 0;
  uint8_t block[kConfigTypeLength];
  if (!ReadConfigTypeBlock(devicePath, block)) return 0;
  return block[kConfigTypeByte] == kConfigType11 && block[kConfigLayoutByte] == kQvs639LayoutMark
             ? 1
             : 0;
}

}  // namespace bridge
