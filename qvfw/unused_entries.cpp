// Entry points the stations bind but never call. They resolve so that a
// binding succeeds, and answer 0 without touching a device: nothing relies
// on what they would do.
#include "qvfw/qvfw_api.h"

extern "C" {

int QV_GetSDKVersion(char*) { return 0; }
int QV_FWUpdateProgramming(const char*) { return 0; }
int QV_87x_Clone_FWUpdateProgramming(const char*) { return 0; }
int QV_SetBackupFilePath(const char*) { return 0; }
int QV_SerialFlashBackup(const char*) { return 0; }
int QV_EnableUpdateUSBAttachmentFirstSetting(const char*, int) { return 0; }
int QV_SetUSBAttachmentFirst(const char*, int) { return 0; }
int QV_GetUSBAttachmentFirstSettingfromFlash(const char*, int*) { return 0; }
int QV_GetStandbyTimerfromFlash(const char*, int*) { return 0; }
int QV_GetHDDStrfromFlash(const char*, char*) { return 0; }
int QV_GetHDDStrbySCSICmd(const char*, char*) { return 0; }
int QV_Get87xVIDbySCSICmd(const char*, uint16_t*) { return 0; }
int QV_Get87xPIDbySCSICmd(const char*, uint16_t*) { return 0; }
int QV_Get87xSNbySCSICmd(const char*, char*) { return 0; }
int QV_DisableUFSLun(const char*, uint8_t*) { return 0; }

}  // extern "C"
