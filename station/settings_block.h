// Every setting of one production pass as one plain record, copied whole
// into each worker's job so that a worker reads a snapshot that cannot change
// under it; and the station-wide options that threads read in place.
//
// Texts are 8-bit, of fixed width and NUL-terminated: every writer goes
// through SetFieldText(), which cuts a text to one character less than its
// field. Only the texts a configuration image takes at their full width are
// written with SetFixedText() and may fill their field without a NUL, so
// every reader goes through FieldText(), which honours the width.
// Field names are those of the settings file, misspellings included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace station {

struct SettingsBlock {
  char WriteFileName[160];
  int32_t WRLoop;
  int32_t USBWritePerformance;
  int32_t USBReadPerformance;
  int32_t TotalTestCount;
  int32_t NumberOfPass;
  int64_t FreeSpace;
  int64_t FreeSpaceRange;
  int32_t CapacityCustomize;
  int32_t Capacity;
  int32_t EnFreeSpaceCheck;
  int32_t EnPartition;
  int32_t EnCloneProduct;
  int32_t EnFormat;
  int32_t EnRWTest;
  int32_t EnEEPROMUpdate;
  int32_t EnFWUpdate;
  int32_t EnSWCopy;
  int32_t EnVenderCheck;
  int32_t EnUSB30Check;
  int32_t EnUSB31Gen2Check;
  int32_t EnFWCheck;
  int32_t EnFolderCompare;
  int32_t WriteTwoFlashBanks;
  char DiskLabel[80];
  char FwFileName[256];
  uint8_t DiskFormat;
  int32_t FmtSecPerClus;
  int32_t ClusterChoiceShown;
  char SwImgPath[256];
  char SwDstFolder[256];
  int32_t MPResetWait;
  int32_t MPPortReset;
  int32_t EnBarcodeMode;
  int32_t EnKey0SafeRemove;
  int32_t EnEPPTypeC;
  int32_t EPPPowerGPIODelay;
  int32_t EPPPowerOnDelay;
  int32_t EPPPowerOffDelay;
  char VenderID[10];
  char ProductID[10];
  char StringA[70];
  char StringB[70];
  char String3[70];
  char StringC[70];
  char ProductRevsion[12];
  int32_t ODDSize;
  uint8_t StringAInc;
  uint8_t StringBInc;
  uint8_t String3Inc;
  uint8_t StrBFromHDSN;
  uint8_t EnSNfromHDDSN;
  uint8_t OptionBlock[128];
  int32_t EnManuProdStrSourceCtl;
  int32_t EnInquiryStrSourceCtl;
  char InquiryVendor[8];
  char InquiryProduct[16];
  char StringCText[32];
  char StringBText[32];
  uint16_t VidValue;
  uint16_t PidValue;
  char SerialText[20];
  int32_t SerialLength;
  char VerifyVenderID[10];
  char VerifyProductID[10];
  char VerifyStringA[70];
  char VerifyStringB[70];
  char DiskName[70];
  char VolumeLabel[70];
  char HDDFwRev[20];
  int32_t EnCheckDiskName;
  int32_t EnCheckVolLabel;
  int32_t EnCheckHDDFwRev;
  char StringMaxSn[72];
  int32_t TableType;
  uint8_t MapToHDName;
  int32_t OptionOffsets[12];
  int32_t StandbyTimer;
  int32_t BarcodeLength;
  int32_t EEPROMRetry;
  int32_t MPVersion;
  char ProductModel[32];
  int32_t ShowRWPerf;
  int32_t RWDataSize;
  float PerfShift;
  int32_t FolderCount;
  int32_t FileCount;
  int32_t bAdvenceCompare;
  int32_t EnPD;
  int32_t EnLoopDebug;
};

static_assert(std::is_trivially_copyable_v<SettingsBlock>);
static_assert(std::is_standard_layout_v<SettingsBlock>);

// The record as the main window creates it: all zero.
inline SettingsBlock ZeroedSettingsBlock() {
  SettingsBlock block;
  std::memset(&block, 0, sizeof block);
  return block;
}

// Settings outside the record; the values are those the program starts with.
struct StationOptions {
  int32_t EEPROMOnly = 0;
  int32_t SupportODD = 0;
  int32_t CheckMaxSn = 0;
  int32_t MPSafeRemove = 0;
  int32_t MPEEPROMToLog = 0;
  int32_t MPPassLabel = 0;
  int32_t MPAutorun = 0;
  int32_t MPSnAToZ = 0;
  int32_t MPDevCount = 0;
  int32_t MPEEPROMAtHDD = 0;
  int32_t MPPellmarCustomer = 0;
  int32_t SCSITimeout = 10;
  uint8_t FlashType = 255;
  int32_t QVB819WDHDD = 0;
  int32_t EnOver2TBMulLun = 0;
  int32_t EnMultiSec = 0;
  int32_t QV843PWMode = 0;
  int32_t QVB819REU = 0;
  int32_t EnQVS871StandbyTime = 0;
  // Copy of EnFreeSpaceCheck: the free-space check and the port rows.
  uint8_t FreeSpaceCheck = 0;
  // Copy of ClusterChoiceShown: while 0 the save writes FmtSecPerClus as -1.
  uint8_t ClusterChoice = 0;
  // Set by a load with EnEPPTypeC on and never cleared by a later load: the
  // USB tree walk keeps the record of the EPP power-control device.
  uint8_t KeepEppDevice = 0;
  // Set once the yield counters have been read from the yield file; from
  // then on the counters in memory are newer than the file's.
  uint8_t YieldCountersLoaded = 0;
};

static_assert(std::is_trivially_copyable_v<StationOptions>);

// The current settings file, "Kestrova.ini" in the program folder at start.
using IniPath = std::string;

// The text of a fixed-width field: up to its first NUL, at most its width.
template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
  const void* nul = std::memchr(field, '\0', N);
  return std::string_view(field, nul ? static_cast<const char*>(nul) - field : N);
}

namespace detail {
// `text` up to its first NUL, at most Room characters, into the field; the
// rest zero. False when the text had to be cut.
template <size_t Room, size_t N>
bool StoreCutText(char (&field)[N], std::string_view text) {
  static_assert(Room <= N);
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  const size_t n = text.size() < Room ? text.size() : Room;
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), n);
  return n == text.size();
}
}  // namespace detail

// Stores `text` cut to the field less its terminator (and to its first
// NUL), the rest zero. Returns false when the text had to be cut.
template <size_t N>
bool SetFieldText(char (&field)[N], std::string_view text) {
  return detail::StoreCutText<N - 1>(field, text);
}

// The same at the field's full width, for the texts a configuration image
// takes whole: InquiryVendor, InquiryProduct, StringCText, StringBText, and
// a SerialText the device itself reported. A text as long as the field has
// no terminator.
template <size_t N>
bool SetFixedText(char (&field)[N], std::string_view text) {
  return detail::StoreCutText<N>(field, text);
}

// The serial number as the collection and the pass store it: String3 and
// SerialText take the text (SerialText at most 19 characters and its
// terminator), and SerialLength is the length of what SerialText holds, so
// it never claims more than the field has.
void StoreSerialNumber(SettingsBlock& block, std::string_view text);

}  // namespace station
