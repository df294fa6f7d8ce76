// The device library's calling contract: the 106 QV_ entry points of
// QVFWUpdateDll.so, the types of pointers to them (what a binding stores),
// and the capacities of every buffer they write.
//
// Every entry returns 1 (or another nonzero answer) for success and 0 for
// failure. A null, empty, unknown or over-long argument is a failure, and
// nothing is written past the capacity named for an output: a caller's
// buffer must hold at least that many bytes. Texts are NUL-terminated 8-bit
// text. Entries may be called from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvfw {

inline constexpr int kMaxDevices = 16;              // device-list entries
inline constexpr size_t kPathCapacity = 256;        // device paths, hub names
inline constexpr size_t kTextCapacity = 80;         // serials, strings, versions, flash text
inline constexpr size_t kChipNameCapacity = 48;
inline constexpr size_t kDiskRevisionCapacity = 20;
inline constexpr size_t kLetterCapacity = 8;
inline constexpr size_t kIdentifySize = 512;        // QV_GetDiskInfo
inline constexpr size_t kPreserveBufferSize = 262144;  // the 87x preserve buffer
inline constexpr int kSettingTableCapacity = 256;   // CustomizedSettingTable entries

// QV_GetDeviceList's answer when a bridge found no room in the list.
inline constexpr int kListOverfull = 2;

// Running modes of QV_GetRunningCodeMode.
inline constexpr int kModeInternalCode = 1;  // no product firmware in the flash
inline constexpr int kModeFirmware = 2;      // product firmware runs from the flash

// Speed codes of QV_GetUSBSpeed.
inline constexpr int kSpeedUsb2 = 2;
inline constexpr int kSpeedGen1 = 3;
inline constexpr int kSpeedGen2 = 4;

// File-system indexes of the format entries.
inline constexpr int kFileSystemNtfs = 0;
inline constexpr int kFileSystemFat32 = 1;
inline constexpr int kFileSystemExfat = 2;

// UFS unit states (QV_GetUFSStatus, QV_EnableUFSLun).
inline constexpr uint8_t kUfsDisabled = 0;
inline constexpr uint8_t kUfsEnabled = 1;

}  // namespace qvfw

extern "C" {

// ---- Library and device list.
int QV_GetSDKVersion(char* version);                      // kTextCapacity
// list: kMaxDevices buffers of kPathCapacity bytes each. The result is
// kListOverfull when more bridges are attached than the list holds: it
// then holds the first kMaxDevices, and the program tells the operator
// (the library opens no window).
int QV_GetDeviceList(char** list, int* count);
int QV_SetSCSITimeOut(int seconds);

// ---- Identification and queries.
int QV_GetChipType(const char* path, int* chipType);
int QV_GetChipTypeName(const char* path, char* name);     // kChipNameCapacity
int QV_GetRunningCodeMode(const char* path, int* mode);
int QV_GetFWVersion(const char* path, char* version);     // kTextCapacity
int QV_GetFlashString(const char* path, char* text);      // kTextCapacity
int QV_IsQVS87xSeries(const char* path);                  // answer 1 or 0
int QV_IsUASPdevice(const char* path);                    // answer 1 or 0
int QV_GetUSBSpeed(const char* path, int* speed);
int QV_GetHubPortIndex(const char* path, int* port);
int QV_GetRootHubName(const char* path, char* name);      // kPathCapacity

// The identity as the system shows it and as the product's flash stores it.
// The serial and string entries take no size: they write up to
// kTextCapacity (80) bytes, more than a 20-byte serial field or a 50-byte
// string field of a caller holds. Every caller of ours passes 80 bytes or
// more; a caller with a smaller field must read into an 80-byte buffer
// first.
int QV_GetVIDfromOS(const char* path, uint16_t* vid);
int QV_GetPIDfromOS(const char* path, uint16_t* pid);
int QV_GetSNfromOS(const char* path, char* text);         // kTextCapacity (80), not 20
int QV_GetManuStrfromOS(const char* path, char* text);    // kTextCapacity (80), not 50
int QV_GetProdStrfromOS(const char* path, char* text);    // kTextCapacity (80), not 50
int QV_GetVIDfromFlash(const char* path, uint16_t* vid);
int QV_GetPIDfromFlash(const char* path, uint16_t* pid);
int QV_GetSNfromFlash(const char* path, char* text);      // kTextCapacity (80), not 20
int QV_GetManuStrfromFlash(const char* path, char* text); // kTextCapacity (80), not 50
int QV_GetProdStrfromFlash(const char* path, char* text); // kTextCapacity (80), not 50
int QV_GetUSBAttachmentFirstSettingfromFlash(const char* path, int* value);
int QV_GetStandbyTimerfromFlash(const char* path, int* minutes);
int QV_GetHDDStrfromFlash(const char* path, char* text);  // kTextCapacity
int QV_Get87xVIDbySCSICmd(const char* path, uint16_t* vid);
int QV_Get87xPIDbySCSICmd(const char* path, uint16_t* pid);
int QV_Get87xSNbySCSICmd(const char* path, char* text);   // kTextCapacity (80), not 20
int QV_Get87xStandbyTimerbySCSICmd(const char* path, int* minutes);

// ---- The attached disk.
int QV_GetDiskCapacity(const char* path, uint64_t* megabytes);
int QV_GetDiskInfo(const char* path, uint8_t* identify);  // kIdentifySize
// The result is the number of valid bytes in `buffer` (0 on failure);
// *available receives how many the device has.
int QV_Inquiry(const char* path, uint8_t* buffer, int length, int* available);
int QV_GetDiskFWRevbySCSICmd(const char* path, char* text);  // kDiskRevisionCapacity
int QV_GetHDDStrbySCSICmd(const char* path, char* text);     // kTextCapacity
int QV_GetMappingLetter(const char* path, char* letter);     // kLetterCapacity
int QV_CheckWriteProtect(const char* path, int* writeProtected);
int QV_FormatUnit(const char* path);

// Partition (gpt 1: GPT, else MBR) and format; fileSystem is a kFileSystem*
// index, allocationUnit in bytes (0: the file system's default).
int QV_DiskPartition(const char* path, int gpt, int gpt2);
int QV_DiskFormat(const char* path, int fileSystem, const char* label, int clusterSize);
int QV_Partition_LBA(const char* path, int gpt, int gpt2, int own);
int QV_Format_LBA(const char* path, const char* label, int fileSystem, int allocationUnit,
                  int quick, int own);
int QV_Format_FormatCOM(const char* path, const char* label, int fileSystem, int allocationUnit,
                        int quick, int own);
int QV_Format_WindowsAPI(const char* path, const char* label, int fileSystem, int allocationUnit,
                         int quick, int own);
int QV_Partition_LBA_Format_LBA(const char* path, int gpt, const char* label, int fileSystem,
                                int allocationUnit, int quick, int gpt2, int own);
int QV_Partition_LBA_Format_FormatCOM(const char* path, int gpt, const char* label,
                                      int fileSystem, int allocationUnit, int quick, int gpt2,
                                      int own, int route);
int QV_Partition_LBA_Format_WindowsAPI(const char* path, int gpt, const char* label,
                                       int fileSystem, int allocationUnit, int quick, int gpt2,
                                       int own, int route);
// sizeMB of data written to a file on the product volume, read back and
// compared; speeds in MB/s. pattern: 64 KB repeated, or null.
int QV_DiskRWTest(const char* path, float* readSpeed, float* writeSpeed, int sizeMB,
                  const uint8_t* pattern);
int QV_SafeRemove(const char* path);

// ---- UFS logical unit.
int QV_GetUFSStatus(const char* path, uint8_t* state);
// *state reads kUfsDisabled afterwards when the unit appears only after a reset.
int QV_EnableUFSLun(const char* path, uint8_t* state);
int QV_DisableUFSLun(const char* path, uint8_t* state);
int QV_GetUFSCapacity(const char* path, uint64_t* megabytes);
int QV_SetUFSBGARefClkFreq(const char* path, int code);
int QV_GetUFSBGARefClkFreq(const char* path, int* code);

// ---- Firmware.
int QV_SetFWBinFilePath(const char* file);
int QV_SetCloneProduct(int clone);
int QV_CheckLoadBinFileMatch(const char* path, const char* file);
int QV_CheckChipFW(const char* path, const char* file);
int QV_SerialFlashErase(const char* path);
int QV_UpdateMFGOnly(const char* path);
int QV_FWUpdateProgramming(const char* path);
int QV_FWUpdateProgrammingEX(const char* path);
int QV_FWUpdateProgrammingNoCustomizedSetting(const char* path);
int QV_87x_Clone_FWUpdateProgramming(const char* path);
int QV_87x_Clone_FWUpdateProgrammingEX(const char* path);
int QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting(const char* path);
int QV_SetBackupFilePath(const char* file);
int QV_SerialFlashBackup(const char* path);
int QV_ChipReset(const char* path);
int QV_ActiveFirmware(const char* path);
int QV_Update87xStandbyTimer(const char* path, int minutes);

// ---- The CustomizedSettingTable.
int QV_InitialCustomizedSettingTable(void);
int QV_GetCustomizedSettingTableIndex(const char* path);  // -1: none
int QV_SetDevicePath(int index, const char* path);
int QV_UpdateCustomizedSetting(const char* path);
int QV_87xPreserveCustomizedSetting(const char* path);
int QV_87xPreserveCustomizedSettingEx(const char* path, uint8_t* buffer, int size);
int QV_87x_Clone_UpdateCustomizedSetting(const char* path, const uint8_t* buffer, int size);

int QV_EnableUpdateVID(const char* path, int on);
int QV_EnableUpdatePID(const char* path, int on);
int QV_EnableUpdateManuStr(const char* path, int on);
int QV_EnableUpdateSN(const char* path, int on);
int QV_EnableUpdateProdStr(const char* path, int on);
int QV_EnableMapToHDDStr(const char* path, int on);
int QV_EnableUpdateDisplayHDDStrSetting(const char* path, int on);
int QV_EnableUpdatePretendSuperSetting(const char* path, int on);
int QV_EnableUpdateUSBAttachmentFirstSetting(const char* path, int on);
int QV_EnableUpdateManuProdCtl(const char* path, int on);
int QV_EnableUpdateInquiryCtl(const char* path, int on);
int QV_EnableUpdateStandbyTimer(const char* path, int on);
int QV_SetSNFromNVRAMTable(const char* path, int on);
int QV_SetManuProdCtl(const char* path, int on);
int QV_SetInquiryCtl(const char* path, int on);
int QV_SetEnableMultiSector(const char* path, int on);
int QV_SetUSBAttachmentFirst(const char* path, int on);

// IDs as 1-4 hexadecimal digits.
int QV_SetVIDValue(const char* path, const char* hex);
int QV_SetPIDValue(const char* path, const char* hex);
int QV_SetManuStr(const char* path, const char* text);
int QV_SetSerialNumStr(const char* path, const char* text);
int QV_SetProdString(const char* path, const char* text);
int QV_SetScsiVidString(const char* path, const char* text);
int QV_SetScsiPidString(const char* path, const char* text);
int QV_SetUsbManuString(const char* path, const char* text);
int QV_SetUsbProdString(const char* path, const char* text);
int QV_SetStandbyTimer(const char* path, int minutes);

}  // extern "C"

// Every entry point, in the order of a binding's slots.
#define QV_ENTRY_POINTS(X)                                                                       \
  X(QV_GetSDKVersion) X(QV_GetDeviceList) X(QV_Inquiry) X(QV_GetChipTypeName) X(QV_GetChipType)  \
  X(QV_GetDiskInfo) X(QV_ChipReset) X(QV_SafeRemove) X(QV_DiskPartition) X(QV_DiskFormat)        \
  X(QV_DiskRWTest) X(QV_GetMappingLetter) X(QV_GetDiskCapacity) X(QV_Partition_LBA)              \
  X(QV_Format_LBA) X(QV_Format_FormatCOM) X(QV_Format_WindowsAPI)                                \
  X(QV_Partition_LBA_Format_LBA) X(QV_Partition_LBA_Format_FormatCOM)                            \
  X(QV_Partition_LBA_Format_WindowsAPI) X(QV_SetFWBinFilePath) X(QV_CheckChipFW)                 \
  X(QV_CheckLoadBinFileMatch) X(QV_GetFlashString) X(QV_GetFWVersion) X(QV_GetRunningCodeMode)   \
  X(QV_UpdateMFGOnly) X(QV_FWUpdateProgramming) X(QV_FWUpdateProgrammingEX)                      \
  X(QV_FWUpdateProgrammingNoCustomizedSetting) X(QV_ActiveFirmware) X(QV_SerialFlashErase)       \
  X(QV_SetBackupFilePath) X(QV_SerialFlashBackup) X(QV_InitialCustomizedSettingTable)            \
  X(QV_UpdateCustomizedSetting) X(QV_EnableUpdateVID) X(QV_EnableUpdatePID)                      \
  X(QV_EnableUpdateManuStr) X(QV_EnableUpdateSN) X(QV_EnableUpdateProdStr)                       \
  X(QV_EnableMapToHDDStr) X(QV_EnableUpdateDisplayHDDStrSetting)                                 \
  X(QV_EnableUpdatePretendSuperSetting) X(QV_EnableUpdateUSBAttachmentFirstSetting)              \
  X(QV_EnableUpdateManuProdCtl) X(QV_EnableUpdateInquiryCtl) X(QV_EnableUpdateStandbyTimer)      \
  X(QV_SetSNFromNVRAMTable) X(QV_SetVIDValue) X(QV_SetPIDValue) X(QV_SetManuStr)                 \
  X(QV_SetSerialNumStr) X(QV_SetProdString) X(QV_SetScsiVidString) X(QV_SetScsiPidString)        \
  X(QV_SetUsbManuString) X(QV_SetUsbProdString) X(QV_SetManuProdCtl) X(QV_SetInquiryCtl)         \
  X(QV_SetEnableMultiSector) X(QV_SetUSBAttachmentFirst) X(QV_SetStandbyTimer)                   \
  X(QV_GetPIDfromOS) X(QV_GetVIDfromOS) X(QV_GetSNfromOS) X(QV_GetManuStrfromOS)                 \
  X(QV_GetProdStrfromOS) X(QV_GetPIDfromFlash) X(QV_GetVIDfromFlash) X(QV_GetSNfromFlash)        \
  X(QV_GetManuStrfromFlash) X(QV_GetProdStrfromFlash) X(QV_GetUSBAttachmentFirstSettingfromFlash) \
  X(QV_GetStandbyTimerfromFlash) X(QV_GetHDDStrfromFlash) X(QV_GetHDDStrbySCSICmd)               \
  X(QV_GetDiskFWRevbySCSICmd) X(QV_87xPreserveCustomizedSetting)                                 \
  X(QV_87xPreserveCustomizedSettingEx) X(QV_SetCloneProduct)                                     \
  X(QV_87x_Clone_FWUpdateProgramming) X(QV_87x_Clone_FWUpdateProgrammingEX)                      \
  X(QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting) X(QV_87x_Clone_UpdateCustomizedSetting) \
  X(QV_IsQVS87xSeries) X(QV_Update87xStandbyTimer) X(QV_Get87xVIDbySCSICmd)                      \
  X(QV_Get87xPIDbySCSICmd) X(QV_Get87xSNbySCSICmd) X(QV_Get87xStandbyTimerbySCSICmd)             \
  X(QV_GetUFSStatus) X(QV_EnableUFSLun) X(QV_DisableUFSLun) X(QV_GetUFSCapacity)                 \
  X(QV_SetUFSBGARefClkFreq) X(QV_GetUFSBGARefClkFreq) X(QV_CheckWriteProtect) X(QV_FormatUnit)   \
  X(QV_IsUASPdevice) X(QV_GetUSBSpeed) X(QV_SetSCSITimeOut) X(QV_GetHubPortIndex)                \
  X(QV_GetRootHubName) X(QV_SetDevicePath) X(QV_GetCustomizedSettingTableIndex)

// QV_GetDeviceList_t and so on: the pointer types a binding's slots hold.
#define QV_POINTER_TYPE(name) using name##_t = decltype(&::name);
QV_ENTRY_POINTS(QV_POINTER_TYPE)
#undef QV_POINTER_TYPE
