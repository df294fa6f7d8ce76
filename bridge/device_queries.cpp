// Firmware version text and acceptance, INQUIRY and disk-revision checks,
// and the register operations of the USB 3.0 check.
#include "bridge/device_queries.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "bridge/scsi_pass_through.h"
#include "bridge/storage_enumeration.h"
#include "bridge/vendor_commands.h"

namespace bridge {
namespace {

// The chip-information request, sent here by itself because the version
// format depends on how many bytes the bridge returned.
constexpr uint8_t kReadChipInfoCdb[12] = {0xE0, 0xF4, 0xE7};
constexpr uint32_t kShortChipInfo = 13;  // fewer bytes: only the older version bytes

constexpr uint16_t kRunningRegister = 0x7038;
constexpr uint16_t kRunningRegister19 = 0x70F0;
constexpr uint32_t kRegisterLength = 4;
constexpr uint16_t kSignatureRegister = 0xC000;
constexpr uint32_t kSignatureLength = 10;
constexpr uint32_t kFirmwareBlockAddress = 0x1000;  // configuration memory
constexpr uint32_t kQvs843BlockAddress = 0xBC00;
constexpr size_t kQvs843RecordOffset = 1008;
constexpr uint32_t kFlashHeaderAddress = 0x4000;
constexpr uint32_t kBlockLength = 1024;
constexpr uint32_t kConfigBlockLength20 = 20;
constexpr uint32_t kConfigBlockLength32 = 32;
constexpr size_t kConfigStateByte = 19;

constexpr uint8_t kSignature[4] = {0x55, 0xAA, 0xAA, 0x55};
constexpr uint8_t kFlashHeaderMark[4] = {0x55, 0xAA, 'Q', 'V'};

// Which bit of register 0x7038 byte 0 says "product firmware running".
struct RunningBit {
  ChipType chipType;
  uint8_t mask;
};
constexpr RunningBit kRunningBits[] = {
    {4, 0x01}, {6, 0x01}, {7, 0x01}, {18, 0x01}, {9, 0x04}, {11, 0x04}, {12, 0x04}, {13, 0x10},
};

// Internal (non-product) builds that report themselves with these versions.
constexpr std::string_view kInternal7[] = {"2.00.00"};
constexpr std::string_view kInternal11[] = {"7.07.00.16.00", "11.19.02.16.00", "4.10.02.16.00"};
constexpr std::string_view kInternal13[] = {"9.18.01.16.00", "12.01.02.16.00", "2.05.11.16.00",
                                            "4.08.11.16.00", "5.13.11.16.00"};
constexpr std::string_view kInternal19[] = {"1.0.0.0", "1.0.0.1", "49.48.48.49"};
constexpr std::string_view kInternal20 = "00.00.00.01";

constexpr uint16_t kBankSelectRegister = 0x506A;

constexpr size_t kIdentifySize = 512;
constexpr size_t kRevisionOffset = 46;
constexpr size_t kRevisionLength = 8;
constexpr size_t kInquiryVendor = 8;
constexpr size_t kInquiryVendorLength = 8;
constexpr size_t kInquiryProduct = 16;
constexpr size_t kInquiryProductLength = 16;

template <size_t N>
bool IsOneOf(const char* text, const std::string_view (&list)[N]) {
  for (const std::string_view item : list) {
    if (item == text) return true;
  }
  return false;
}

bool Running(const char* devicePath, ChipType chipType) {
  uint8_t reg[kRegisterLength] = {};
  if (chipType == 19) {
    return ReadBridgeRegister(devicePath, kRunningRegister19, reg, sizeof(reg)) && (reg[3] & 0x01);
  }
  for (const RunningBit& bit : kRunningBits) {
    if (bit.chipType != chipType) continue;
    return ReadBridgeRegister(devicePath, kRunningRegister, reg, sizeof(reg)) && (reg[0] & bit.mask);
  }
  return false;
}

// A signature record: 55 AA AA 55 and the model digits at bytes 4..6.
bool IsSignatureRecord(const uint8_t* record, std::initializer_list<std::string_view> digits) {
  if (std::memcmp(record, kSignature, sizeof(kSignature)) != 0) return false;
  for (const std::string_view d : digits) {
    if (std::memcmp(record + 4, d.data(), d.size()) == 0) return true;
  }
  return false;
}

bool RegisterSignature(const char* devicePath, std::string_view digits) {
  uint8_t record[kSignatureLength] = {};
  return ReadBridgeRegister(devicePath, kSignatureRegister, record, sizeof(record)) &&
         IsSignatureRecord(record, {digits});
}

bool ConfigMemorySignature(const char* devicePath, uint32_t address, size_t offset,
                           std::initializer_list<std::string_view> digits) {
  std::array<uint8_t, kBlockLength> block = {};
  return ReadBridgeFlash(devicePath, address, block.data(), kBlockLength) &&
         IsSignatureRecord(block.data() + offset, digits);
}

bool FlashHeaderMatches(const char* devicePath, ChipType chipType) {
  std::array<uint8_t, kBlockLength> block = {};
  if (!FlashRead(devicePath, kFlashHeaderAddress, block.data(), kBlockLength)) return false;
  const std::string_view digits = ChipModelDigits(chipType);
  return std::memcmp(block.data(), kFlashHeaderMark, sizeof(kFlashHeaderMark)) == 0 &&
         std::memcmp(block.data() + 4, digits.data(), digits.size()) == 0;
}

bool ReadInfo(const char* devicePath, uint8_t (&info)[kChipInfoLength]) {
  std::memset(info, 0, sizeof(info));
  return ReadChipInfo(devicePath, info, sizeof(info)) != 0;
}

// Copies `source` into the field, cut to fit.
void CopyToField(char (&field)[kFirmwareVersionSize], const char* source) {
  const size_t length = std::min(std::strlen(source), kFirmwareVersionSize - 1);
  std::memcpy(field, source, length);
  field[length] = '\0';
}

// Length of `bytes` without trailing blanks (spaces and NULs).
size_t TrimmedLength(const uint8_t* bytes, size_t length) {
  while (length > 0 && (bytes[length - 1] == ' ' || bytes[length - 1] == '\0')) --length;
  return length;
}

int ParseKeyed(const char* deviceId, const char (&key)[4], char (&out)[5]) {
  if (deviceId == nullptr) return 0;
  for (const char* p = deviceId; *p != '\0'; ++p) {
    bool keyHere = true;
    for (size_t i = 0; i < 3; ++i) {
      // A NUL in the text stops the comparison here, before p[i + 1] is read.
      if (std::tolower(static_cast<unsigned char>(p[i])) != key[i]) {
        keyHere = false;
        break;
      }
    }
    if (!keyHere) continue;
    const char* value = p + 3;
    if (*value == '\0') return 0;
    ++value;  // the separator
    for (size_t i = 0; i < 4; ++i) {
      if (value[i] == '\0') return 0;
    }
    std::memcpy(out, value, 4);
    out[4] = '\0';
    return 1;
  }
  return 0;
}

}  // namespace

int FormatFirmwareVersion(ChipType chipType, const char* devicePath,
                          char (&text)[kFirmwareVersionSize]) {
  text[0] = '\0';
  uint8_t info[kChipInfoLength] = {};
  uint32_t moved = 0;
  if (!ScsiPassThroughIn(devicePath, kReadChipInfoCdb, sizeof(kReadChipInfoCdb), info,
                         sizeof(info), &moved)) {
    return 0;
  }
  if (info[0] != 0xF4 || info[1] != 0xE7) return 1;

  // Room for the longest form ("255.255.255.255.255"), cut to the field after.
  char formatted[32] = {};
  const unsigned b6 = info[6], b7 = info[7];
  const unsigned b12 = info[12], b13 = info[13], b14 = info[14], b15 = info[15];
  if (chipType == 8 || chipType == 17) {
    std::snprintf(formatted, sizeof(formatted), "  --.--.--");
  } else if (chipType == 11 || chipType == 12 || chipType == 13) {
    const unsigned last = chipType == 13 && ProbeBankSelectBit(devicePath) ? b14 ^ 1u : b14;
    std::snprintf(formatted, sizeof(formatted), "%u.%.2u.%.2u.%.2u.%.2u", b6, b7, b12, b13, last);
  } else if (chipType >= 19 && chipType <= 28) {
    std::snprintf(formatted, sizeof(formatted), "%.2u.%.2u.%.2u.%.2u", b12, b13, b14, b15);
  } else if (moved < kShortChipInfo) {
    std::snprintf(formatted, sizeof(formatted), "%u.%.2u", b6, b7);
  } else {
    std::snprintf(formatted, sizeof(formatted), "%u.%.2u.%.2u", b12, b13, b14);
  }
  CopyToField(text, formatted);
  return 1;
}

int CheckFirmwareVersion(const char* devicePath, ChipType chipType, const char* versionText) {
  const char* v = versionText != nullptr ? versionText : "";
  uint8_t info[kChipInfoLength];
  switch (chipType) {
    case 4:
    case 6:
      return Running(devicePath, chipType) && RegisterSignature(devicePath, "649") ? 1 : 0;
    case 7:
    case 18:
      return Running(devicePath, chipType) && !IsOneOf(v, kInternal7) &&
                     FlashHeaderMatches(devicePath, chipType)
                 ? 1
                 : 0;
    case 8:
      return 0;
    case 9:
      return Running(devicePath, chipType) && RegisterSignature(devicePath, "662") ? 1 : 0;
    case 11:
    case 12:
      return Running(devicePath, chipType) && !IsOneOf(v, kInternal11) &&
                     ConfigMemorySignature(devicePath, kFirmwareBlockAddress, 0, {"666", "665"})
                 ? 1
                 : 0;
    case 13:
      return Running(devicePath, chipType) && !IsOneOf(v, kInternal13) &&
                     ConfigMemorySignature(devicePath, kFirmwareBlockAddress, 0, {"857"})
                 ? 1
                 : 0;
    case 19: {
      if (!Running(devicePath, chipType) || IsOneOf(v, kInternal19)) return 0;
      uint8_t block[kConfigBlockLength20] = {};
      if (ReadConfigBlock(devicePath, block, sizeof(block))) return block[kConfigStateByte] ? 1 : 0;
      return ConfigMemorySignature(devicePath, kQvs843BlockAddress, kQvs843RecordOffset, {"843"})
                 ? 1
                 : 0;
    }
    case 20: {
      uint8_t block[kConfigBlockLength32] = {};
      const bool stateSet =
          ReadConfigBlock(devicePath, block, sizeof(block)) && block[kConfigStateByte] == 1;
      return stateSet || kInternal20 != v ? 1 : 0;
    }
    case 21:
    case 22:
    case 23:
    case 24:
      return ReadInfo(devicePath, info) && (info[6] == 0 || info[6] == 3) ? 1 : 0;
    case 25:
    case 27:
    case 28:
      return ReadInfo(devicePath, info) && info[6] != 0 ? 1 : 0;
    case 26:
      if (!ReadInfo(devicePath, info)) return 0;
      return (info[11] == 2 ? info[7] != 0xFF : info[6] != 0) ? 1 : 0;
    default:
      return 1;
  }
}

int InquiryMatches(const char* devicePath, const char* expected) {
  if (expected == nullptr) return 0;
  uint8_t inquiry[kInquiryIdentifyLength] = {};
  if (!Inquiry(devicePath, inquiry, sizeof(inquiry))) return 0;
  const auto field = [&](size_t offset, size_t length) {
    return std::string(reinterpret_cast<const char*>(inquiry + offset),
                       TrimmedLength(inquiry + offset, length));
  };
  const std::string name =
      field(kInquiryVendor, kInquiryVendorLength) + " " + field(kInquiryProduct, kInquiryProductLength);
  return name == expected ? 1 : 0;
}

int CheckDiskFirmwareRevision(const char* devicePath, const char* expected, int useSat) {
  if (expected == nullptr) return 0;
  uint8_t identify[kIdentifySize] = {};
  if (!IdentifyDevice(devicePath, identify, useSat)) return 0;
  char revision[kRevisionLength + 1];
  CopyIdentifyString(identify, revision, kRevisionOffset, kRevisionLength);
  return std::strncmp(expected, revision, std::strlen(revision)) == 0 ? 1 : 0;
}

void CopyIdentifyString(const uint8_t* identify, char* out, size_t offset, size_t length) {
  out[0] = '\0';
  if (offset > kIdentifySize || length > kIdentifySize - offset) return;
  for (size_t i = 0; i + 1 < length; i += 2) {
    out[i] = static_cast<char>(identify[offset + i + 1]);
    out[i + 1] = static_cast<char>(identify[offset + i]);
  }
  if (length % 2 != 0) out[length - 1] = static_cast<char>(identify[offset + length - 1]);
  size_t end = length;
  while (end > 0 && out[end - 1] == ' ') --end;
  out[end] = '\0';
}

int SetRegister5000Bit4(const char* devicePath) {
  for (const uint16_t address : {uint16_t{0x5000}, uint16_t{0x5008}}) {
    uint8_t reg[kRegisterLength] = {};
    if (!ReadBridgeRegister(devicePath, address, reg, sizeof(reg))) return 0;
    reg[0] |= 0x10;
    if (!WriteBridgeRegister(devicePath, address, reg, sizeof(reg))) return 0;
  }
  return 1;
}

int ReadRegister5008(const char* devicePath) {
  uint8_t reg[kRegisterLength] = {};
  return ReadBridgeRegister(devicePath, 0x5008, reg, sizeof(reg));
}

int ProbeBankSelectBit(const char* devicePath) {
  uint8_t original = 0;
  if (!ReadBridgeRegister(devicePath, kBankSelectRegister, &original, 1)) return 0;
  const uint8_t zero = 0;
  uint8_t readBack = 0;
  const bool probed = WriteBridgeRegister(devicePath, kBankSelectRegister, &zero, 1) &&
                      ReadBridgeRegister(devicePath, kBankSelectRegister, &readBack, 1) &&
                      readBack == 1;
  // Leave the device as it was found, whatever the probe saw; the answer is
  // what the probe read.
  (void)WriteBridgeRegister(devicePath, kBankSelectRegister, &original, 1);
  return probed ? 1 : 0;
}

int ParseVid(const char* deviceId, char (&out)[5]) { return ParseKeyed(deviceId, "vid", out); }
int ParsePid(const char* deviceId, char (&out)[5]) { return ParseKeyed(deviceId, "pid", out); }

}  // namespace bridge
