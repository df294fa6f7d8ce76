// Entry points the stations bind but never call. They resolve so that a
// binding succeeds, and answer 0 without touching a device: nothing relies
// on what they would do.
#include "qvfw/entry_trace.h"
#include "qvfw/qvfw_api.h"

extern "C" {

int QV_GetSDKVersion(char*) { QV_TRACE(); return 0; }
int QV_FWUpdateProgramming(const char*) { QV_TRACE(); return 0; }
int QV_87x_Clone_FWUpdateProgramming(const char*) { QV_TRACE(); return 0; }
int QV_SetBackupFilePath(const char*) { QV_TRACE(); return 0; }
int QV_SerialFlashBackup(const char*) { QV_TRACE(); return 0; }
int QV_EnableUpdateUSBAttachmentFirstSetting(const char*, int) { QV_TRACE(); return 0; }
int QV_SetUSBAttachmentFirst(const char*, int) { QV_TRACE(); return 0; }
int QV_GetUSBAttachmentFirstSettingfromFlash(const char*, int*) { QV_TRACE(); return 0; }
int QV_GetStandbyTimerfromFlash(const char*, int*) { QV_TRACE(); return 0; }
int QV_GetHDDStrfromFlash(const char*, char*) { QV_TRACE(); return 0; }
int QV_GetHDDStrbySCSICmd(const char*, char*) { QV_TRACE(); return 0; }
int QV_Get87xVIDbySCSICmd(const char*, uint16_t*) { QV_TRACE(); return 0; }
int QV_Get87xPIDbySCSICmd(const char*, uint16_t*) { QV_TRACE(); return 0; }
int QV_Get87xSNbySCSICmd(const char*, char*) { QV_TRACE(); return 0; }
int QV_DisableUFSLun(const char*, uint8_t*) { QV_TRACE(); return 0; }

}  // extern "C"
