#include "sdkstation/device_sdk.h"

#include <cstring>

namespace sdkstation {
namespace {

// One lookup: the name and how its entry goes into its slot.
struct Lookup {
  const char* name;
  void (*store)(DeviceSdkTable&, platform::Proc);
};

#define QV_LOOKUP(name) \
  {#name, [](DeviceSdkTable& t, platform::Proc p) { t.name = reinterpret_cast<name##_t>(p); }}

// The contract's lookup order: 107 lookups into 106 slots, with
// QV_SetEnableMultiSector looked up before and after QV_SetInquiryCtl.
constexpr Lookup kLookups[] = {
    QV_LOOKUP(QV_GetSDKVersion), QV_LOOKUP(QV_GetDeviceList), QV_LOOKUP(QV_Inquiry),
    QV_LOOKUP(QV_GetChipTypeName), QV_LOOKUP(QV_GetChipType), QV_LOOKUP(QV_GetDiskInfo),
    QV_LOOKUP(QV_ChipReset), QV_LOOKUP(QV_SafeRemove), QV_LOOKUP(QV_DiskPartition),
    QV_LOOKUP(QV_DiskFormat), QV_LOOKUP(QV_DiskRWTest), QV_LOOKUP(QV_GetMappingLetter),
    QV_LOOKUP(QV_GetDiskCapacity), QV_LOOKUP(QV_Partition_LBA), QV_LOOKUP(QV_Format_LBA),
    QV_LOOKUP(QV_Format_FormatCOM), QV_LOOKUP(QV_Format_WindowsAPI),
    QV_LOOKUP(QV_Partition_LBA_Format_LBA), QV_LOOKUP(QV_Partition_LBA_Format_FormatCOM),
    QV_LOOKUP(QV_Partition_LBA_Format_WindowsAPI), QV_LOOKUP(QV_SetFWBinFilePath),
    QV_LOOKUP(QV_CheckChipFW), QV_LOOKUP(QV_CheckLoadBinFileMatch), QV_LOOKUP(QV_GetFlashString),
    QV_LOOKUP(QV_GetFWVersion), QV_LOOKUP(QV_GetRunningCodeMode), QV_LOOKUP(QV_UpdateMFGOnly),
    QV_LOOKUP(QV_FWUpdateProgramming), QV_LOOKUP(QV_FWUpdateProgrammingEX),
    QV_LOOKUP(QV_FWUpdateProgrammingNoCustomizedSetting), QV_LOOKUP(QV_ActiveFirmware),
    QV_LOOKUP(QV_SerialFlashErase), QV_LOOKUP(QV_SetBackupFilePath),
    QV_LOOKUP(QV_SerialFlashBackup), QV_LOOKUP(QV_InitialCustomizedSettingTable),
    QV_LOOKUP(QV_UpdateCustomizedSetting), QV_LOOKUP(QV_EnableUpdateVID),
    QV_LOOKUP(QV_EnableUpdatePID), QV_LOOKUP(QV_EnableUpdateManuStr), QV_LOOKUP(QV_EnableUpdateSN),
    QV_LOOKUP(QV_EnableUpdateProdStr), QV_LOOKUP(QV_EnableMapToHDDStr),
    QV_LOOKUP(QV_EnableUpdateDisplayHDDStrSetting), QV_LOOKUP(QV_EnableUpdatePretendSuperSetting),
    QV_LOOKUP(QV_EnableUpdateUSBAttachmentFirstSetting), QV_LOOKUP(QV_EnableUpdateManuProdCtl),
    QV_LOOKUP(QV_EnableUpdateInquiryCtl), QV_LOOKUP(QV_EnableUpdateStandbyTimer),
    QV_LOOKUP(QV_SetSNFromNVRAMTable), QV_LOOKUP(QV_SetVIDValue), QV_LOOKUP(QV_SetPIDValue),
    QV_LOOKUP(QV_SetManuStr), QV_LOOKUP(QV_SetSerialNumStr), QV_LOOKUP(QV_SetProdString),
    QV_LOOKUP(QV_SetScsiVidString), QV_LOOKUP(QV_SetScsiPidString), QV_LOOKUP(QV_SetUsbManuString),
    QV_LOOKUP(QV_SetUsbProdString), QV_LOOKUP(QV_SetManuProdCtl), QV_LOOKUP(QV_SetEnableMultiSector),
    QV_LOOKUP(QV_SetInquiryCtl), QV_LOOKUP(QV_SetEnableMultiSector),
    QV_LOOKUP(QV_SetUSBAttachmentFirst), QV_LOOKUP(QV_SetStandbyTimer), QV_LOOKUP(QV_GetPIDfromOS),
    QV_LOOKUP(QV_GetVIDfromOS), QV_LOOKUP(QV_GetSNfromOS), QV_LOOKUP(QV_GetManuStrfromOS),
    QV_LOOKUP(QV_GetProdStrfromOS), QV_LOOKUP(QV_GetPIDfromFlash), QV_LOOKUP(QV_GetVIDfromFlash),
    QV_LOOKUP(QV_GetSNfromFlash), QV_LOOKUP(QV_GetManuStrfromFlash),
    QV_LOOKUP(QV_GetProdStrfromFlash), QV_LOOKUP(QV_GetUSBAttachmentFirstSettingfromFlash),
    QV_LOOKUP(QV_GetStandbyTimerfromFlash), QV_LOOKUP(QV_GetHDDStrfromFlash),
    QV_LOOKUP(QV_GetHDDStrbySCSICmd), QV_LOOKUP(QV_GetDiskFWRevbySCSICmd),
    QV_LOOKUP(QV_87xPreserveCustomizedSetting), QV_LOOKUP(QV_87xPreserveCustomizedSettingEx),
    QV_LOOKUP(QV_SetCloneProduct), QV_LOOKUP(QV_87x_Clone_UpdateCustomizedSetting),
    QV_LOOKUP(QV_87x_Clone_FWUpdateProgramming), QV_LOOKUP(QV_87x_Clone_FWUpdateProgrammingEX),
    QV_LOOKUP(QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting), QV_LOOKUP(QV_IsQVS87xSeries),
    QV_LOOKUP(QV_Update87xStandbyTimer), QV_LOOKUP(QV_Get87xVIDbySCSICmd),
    QV_LOOKUP(QV_Get87xPIDbySCSICmd), QV_LOOKUP(QV_Get87xSNbySCSICmd),
    QV_LOOKUP(QV_Get87xStandbyTimerbySCSICmd), QV_LOOKUP(QV_GetUFSStatus),
    QV_LOOKUP(QV_EnableUFSLun), QV_LOOKUP(QV_DisableUFSLun), QV_LOOKUP(QV_GetUFSCapacity),
    QV_LOOKUP(QV_SetUFSBGARefClkFreq), QV_LOOKUP(QV_GetUFSBGARefClkFreq),
    QV_LOOKUP(QV_CheckWriteProtect), QV_LOOKUP(QV_FormatUnit), QV_LOOKUP(QV_IsUASPdevice),
    QV_LOOKUP(QV_GetUSBSpeed), QV_LOOKUP(QV_SetSCSITimeOut), QV_LOOKUP(QV_GetHubPortIndex),
    QV_LOOKUP(QV_GetRootHubName), QV_LOOKUP(QV_SetDevicePath),
    QV_LOOKUP(QV_GetCustomizedSettingTableIndex),
};
#undef QV_LOOKUP
static_assert(std::size(kLookups) == 107);

}  // namespace

DeviceSdkTable& DeviceSdk() {
  static DeviceSdkTable table;
  return table;
}

platform::Module BindDeviceSdk() {
  platform::Module module = platform::GetModuleHandle(kDeviceSdkModule);
  if (module == nullptr) module = platform::LoadLibrary(kDeviceSdkFile);
  if (module == kMinusOneModule) return module;
  DeviceSdkTable& table = DeviceSdk();
  if (module == nullptr) {
    table = DeviceSdkTable{};
    return nullptr;
  }
  for (const Lookup& lookup : kLookups) {
    const platform::Proc proc = platform::GetProcAddress(module, lookup.name);
    if (proc == nullptr) {
      (void)platform::FreeLibrary(module);  // the binding has failed either way
      table = DeviceSdkTable{};
      return nullptr;
    }
    lookup.store(table, proc);
  }
  return module;
}

bool UnbindDeviceSdk(platform::Module module) {
  if (module != nullptr) {
    DeviceSdk() = DeviceSdkTable{};
    (void)platform::FreeLibrary(module);  // the slots are empty whatever the release says
  }
  return true;
}

DeviceList::DeviceList() {
  for (size_t i = 0; i < storage_.size(); ++i) pointers_[i] = storage_[i].data();
}

void DeviceList::Clear() {
  for (auto& buffer : storage_) buffer.fill('\0');
}

}  // namespace sdkstation
