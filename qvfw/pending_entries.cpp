// Entries still to be built answer 0.
#include "qvfw/qvfw_api.h"
extern "C" {
int QV_Inquiry(const char*, uint8_t*, int, int*) { return 0; }
int QV_GetDiskInfo(const char*, uint8_t*) { return 0; }
int QV_ChipReset(const char*) { return 0; }
int QV_SafeRemove(const char*) { return 0; }
int QV_DiskPartition(const char*, int, int) { return 0; }
int QV_DiskFormat(const char*, int, const char*, int) { return 0; }
int QV_DiskRWTest(const char*, float*, float*, int, const uint8_t*) { return 0; }
int QV_GetMappingLetter(const char*, char*) { return 0; }
int QV_GetDiskCapacity(const char*, uint64_t*) { return 0; }
int QV_Partition_LBA(const char*, int, int, int) { return 0; }
int QV_Format_LBA(const char*, const char*, int, int, int, int) { return 0; }
int QV_Format_FormatCOM(const char*, const char*, int, int, int, int) { return 0; }
int QV_Format_WindowsAPI(const char*, const char*, int, int, int, int) { return 0; }
int QV_Partition_LBA_Format_LBA(const char*, int, const char*, int, int, int, int, int) { return 0; }
int QV_Partition_LBA_Format_FormatCOM(const char*, int, const char*, int, int, int, int, int, int) { return 0; }
int QV_Partition_LBA_Format_WindowsAPI(const char*, int, const char*, int, int, int, int, int, int) { return 0; }
int QV_SetFWBinFilePath(const char*) { return 0; }
int QV_CheckChipFW(const char*, const char*) { return 0; }
int QV_CheckLoadBinFileMatch(const char*, const char*) { return 0; }
int QV_UpdateMFGOnly(const char*) { return 0; }
int QV_FWUpdateProgrammingEX(const char*) { return 0; }
int QV_FWUpdateProgrammingNoCustomizedSetting(const char*) { return 0; }
int QV_ActiveFirmware(const char*) { return 0; }
int QV_SerialFlashErase(const char*) { return 0; }
int QV_UpdateCustomizedSetting(const char*) { return 0; }
int QV_GetPIDfromFlash(const char*, uint16_t*) { return 0; }
int QV_GetVIDfromFlash(const char*, uint16_t*) { return 0; }
int QV_GetSNfromFlash(const char*, char*) { return 0; }
int QV_GetManuStrfromFlash(const char*, char*) { return 0; }
int QV_GetProdStrfromFlash(const char*, char*) { return 0; }
int QV_GetDiskFWRevbySCSICmd(const char*, char*) { return 0; }
int QV_87xPreserveCustomizedSetting(const char*) { return 0; }
int QV_87xPreserveCustomizedSettingEx(const char*, uint8_t*, int) { return 0; }
int QV_SetCloneProduct(int) { return 0; }
int QV_87x_Clone_FWUpdateProgrammingEX(const char*) { return 0; }
int QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting(const char*) { return 0; }
int QV_87x_Clone_UpdateCustomizedSetting(const char*, const uint8_t*, int) { return 0; }
int QV_Update87xStandbyTimer(const char*, int) { return 0; }
int QV_Get87xStandbyTimerbySCSICmd(const char*, int*) { return 0; }
int QV_GetUFSStatus(const char*, uint8_t*) { return 0; }
int QV_EnableUFSLun(const char*, uint8_t*) { return 0; }
int QV_GetUFSCapacity(const char*, uint64_t*) { return 0; }
int QV_SetUFSBGARefClkFreq(const char*, int) { return 0; }
int QV_GetUFSBGARefClkFreq(const char*, int*) { return 0; }
int QV_CheckWriteProtect(const char*, int*) { return 0; }
int QV_FormatUnit(const char*) { return 0; }
}
