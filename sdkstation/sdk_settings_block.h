// Every setting of one run of the second program as one plain record,
// copied whole into each worker's job; and the station-wide options that
// threads read in place. Field names are those of the settings file,
// misspellings included. Texts are 8-bit, of fixed width and NUL-padded;
// read and write them through station::FieldText and station::SetFieldText,
// which honour the width.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "station/settings_block.h"

namespace sdkstation {

using station::FieldText;
using station::SetFieldText;

struct SdkSettingsBlock {
  char WriteFileName[160];
  uint8_t nPartitionTblFmt;
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
  int32_t EraseFlashOnly;
  int32_t EnSWCopy;
  int32_t EnVenderCheck;
  int32_t EnUSB30Check;
  int32_t EnUSB31Gen2Check;
  int32_t EnFWCheck;
  int32_t EnFolderCompare;
  int32_t EraseFlashForDebug;
  char DiskLabel[80];
  char FwFileName[256];
  int32_t DiskFormat;
  int32_t FmtSecPerClus;
  int32_t AllocationUnitSize;
  int32_t ClusterChoiceShown;
  char SwImgPath[256];
  char SwDstFolder[256];
  int32_t MPResetWait;
  int32_t MPPortReset;
  int32_t EnBarcodeMode;
  int32_t EnKey0SafeRemove;
  int32_t SCSITimeout;
  int32_t EnEPPTypeC;
  int32_t EnQuickFormat;
  int32_t EnDiskCompression;
  char VenderID[10];
  char ProductID[10];
  char StringA[70];
  char StringB[70];
  char String3[70];
  char StringC[70];
  uint8_t String3Inc;
  uint8_t StrBFromHDSN;
  uint8_t EnSNfromHDDSN;
  int32_t EnManuProdStrSourceCtl;
  int32_t EnInquiryStrSourceCtl;
  char VerifyVenderID[10];
  char VerifyProductID[10];
  char VerifyStringA[70];
  char VerifyStringB[70];
  char DiskName[70];
  char VolumeLabel[70];
  char HDDFwRev[20];
  int32_t EnCheckVID;
  int32_t EnCheckPID;
  int32_t EnCheckDiskName;
  int32_t EnCheckManufString;
  int32_t EnCheckUSBProdString;
  int32_t EnCheckVolLabel;
  int32_t EnCheckHDDFwRev;
  char StringMaxSn[70];
  uint8_t UpdateVID;
  uint8_t UpdatePID;
  uint8_t UpdateManufString;
  uint8_t UpdateUSBProdString;
  uint8_t UpdateDeviceString;
  uint8_t MapToHDName;
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
  int32_t EnEraseFlashOnly;
  uint8_t SupportODD;
  uint8_t CheckMaxSn;
};

static_assert(std::is_trivially_copyable_v<SdkSettingsBlock>);
static_assert(std::is_standard_layout_v<SdkSettingsBlock>);

// The record as the main window creates it: all zero.
inline SdkSettingsBlock ZeroedSdkSettingsBlock() {
  SdkSettingsBlock block;
  std::memset(&block, 0, sizeof block);
  return block;
}

// The second program's settings outside the record; the values are those
// it starts with.
struct StationOptions {
  int32_t MPAutorun = 0;
  int32_t MPSafeRemove = 0;
  int32_t MPEEPROMToLog = 0;
  int32_t MPPassLabel = 0;
  int32_t MPSnAToZ = 0;
  int32_t MPEEPROMAtHDD = 0;
  // The capacity check's tolerance in percent; a start without a settings
  // file checks with the key's default.
  int32_t EnCapacityErrorRange = 10;
  int32_t EnMultiSec = 0;
  int32_t EnQVS871StandbyTime = 0;
  // The station time-out: the SCSITimeout handed to the library by the last
  // load, and the value the save writes.
  int32_t SCSITimeout = 10;
  // Copy of ClusterChoiceShown: while 0 the save writes FmtSecPerClus as -1.
  uint8_t ClusterChoice = 0;
  // Set once the yield counters have been read from the yield file; from
  // then on the counters in memory are newer than the file's.
  uint8_t YieldCountersLoaded = 0;
};

static_assert(std::is_trivially_copyable_v<StationOptions>);

}  // namespace sdkstation
