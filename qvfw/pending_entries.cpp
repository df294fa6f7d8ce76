// Entries still to be built answer 0.
#include "qvfw/qvfw_api.h"
extern "C" {
int QV_ChipReset(const char*) { return 0; }
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
int QV_87xPreserveCustomizedSetting(const char*) { return 0; }
int QV_87xPreserveCustomizedSettingEx(const char*, uint8_t*, int) { return 0; }
int QV_SetCloneProduct(int) { return 0; }
int QV_87x_Clone_FWUpdateProgrammingEX(const char*) { return 0; }
int QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting(const char*) { return 0; }
int QV_87x_Clone_UpdateCustomizedSetting(const char*, const uint8_t*, int) { return 0; }
int QV_Update87xStandbyTimer(const char*, int) { return 0; }
int QV_Get87xStandbyTimerbySCSICmd(const char*, int*) { return 0; }
}
