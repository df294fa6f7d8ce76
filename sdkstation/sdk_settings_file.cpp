#include "sdkstation/sdk_settings_file.h"

#include <cstdio>
#include <optional>

#include "platform/ini_file.h"
#include "sdkstation/device_sdk.h"
#include "station/settings_load_steps.h"

namespace sdkstation {
namespace {

using station::Effects;
using station::FieldRef;
using station::FieldRefOf;
using VT = station::ValueType;
using WF = station::WriteForm;
using LR = station::LoadRule;
using LH = LoadHook;

#define BLOCK(f) [](SdkSettingsBlock& b, StationOptions&) { return FieldRefOf(b.f); }
#define OPTION(f) [](SdkSettingsBlock&, StationOptions& o) { return FieldRefOf(o.f); }

constexpr char kSetting[] = "setting";
constexpr char kExecute[] = "QVEXECUTE";
constexpr char kEeprom[] = "QVEEPROM";
constexpr char kPdSwitch[] = "884PDswitch";
constexpr char kLoopDebug[] = "LoopDebug";
constexpr char kVerify[] = "QVEEPROMVERIFY";

// In the reading order. Columns: section, key, read as, default, field,
// written as, position in the writing order, load rule, load step. The
// defaults of the keys the first program reads too are its defaults.
constexpr SettingsKey kKeys[] = {
    {kSetting, "USBWritePerformance", VT::kInteger, "0", BLOCK(USBWritePerformance), WF::kInteger, 0, LR::kStore, LH::kNone},
    {kSetting, "USBReadPerformance", VT::kInteger, "0", BLOCK(USBReadPerformance), WF::kInteger, 1, LR::kStore, LH::kNone},
    {kSetting, "ShowRWPerf", VT::kInteger, "0", BLOCK(ShowRWPerf), WF::kInteger, 2, LR::kStore, LH::kNone},
    {kSetting, "WriteFileName", VT::kText, "", BLOCK(WriteFileName), WF::kText, 3, LR::kStore, LH::kWriteFileName},
    {kSetting, "ProductModel", VT::kText, "QV", BLOCK(ProductModel), WF::kText, 4, LR::kStore, LH::kProductModel},
    {kSetting, "RWDataSize", VT::kInteger, "2", BLOCK(RWDataSize), WF::kInteger, 5, LR::kZeroIsTwo, LH::kNone},
    {kSetting, "SupportODD", VT::kInteger, "0", BLOCK(SupportODD), WF::kInteger, 6, LR::kFlag, LH::kNone},
    {kSetting, "CheckMaxSn", VT::kInteger, "0", BLOCK(CheckMaxSn), WF::kInteger, 7, LR::kFlag, LH::kNone},
    {kSetting, "MPVersion", VT::kInteger, "0", BLOCK(MPVersion), WF::kInteger, 8, LR::kWhileZero, LH::kMPVersion},
    {kSetting, "MPSafeRemove", VT::kInteger, "0", OPTION(MPSafeRemove), WF::kInteger, 9, LR::kStore, LH::kNone},
    {kSetting, "MPEEPROMToLog", VT::kInteger, "0", OPTION(MPEEPROMToLog), WF::kInteger, 10, LR::kStore, LH::kNone},
    {kSetting, "PerfShift", VT::kFloat, "1", BLOCK(PerfShift), WF::kFloat, 11, LR::kStore, LH::kNone},
    {kSetting, "MPPassLabel", VT::kInteger, "0", OPTION(MPPassLabel), WF::kInteger, 12, LR::kStore, LH::kNone},
    {kSetting, "MPAutorun", VT::kInteger, "0", OPTION(MPAutorun), WF::kInteger, 13, LR::kNotNegative, LH::kNone},
    {kSetting, "EnKey0SafeRemove", VT::kInteger, "0", BLOCK(EnKey0SafeRemove), WF::kInteger, 18, LR::kStore, LH::kNone},
    {kSetting, "EnBarcodeMode", VT::kInteger, "0", BLOCK(EnBarcodeMode), WF::kInteger, 17, LR::kStore, LH::kBarcodeMode},
    {kSetting, "MPResetWait", VT::kInteger, "30", BLOCK(MPResetWait), WF::kInteger, 14, LR::kStore, LH::kNone},
    {kSetting, "MPSnAToZ", VT::kInteger, "0", OPTION(MPSnAToZ), WF::kInteger, 15, LR::kStore, LH::kNone},
    {kSetting, "MPPortReset", VT::kInteger, "0", BLOCK(MPPortReset), WF::kInteger, 16, LR::kStore, LH::kNone},
    {kSetting, "EnEPPTypeC", VT::kInteger, "0", BLOCK(EnEPPTypeC), WF::kNone, -1, LR::kStore, LH::kNone},
    {kSetting, "MPEEPROMAtHDD", VT::kInteger, "0", OPTION(MPEEPROMAtHDD), WF::kNone, -1, LR::kStore, LH::kNone},
    // Written from the station time-out (the save's own rule).
    {kSetting, "SCSITimeout", VT::kInteger, "10", BLOCK(SCSITimeout), WF::kInteger, 19, LR::kUnsigned, LH::kSCSITimeout},
    {kSetting, "EnCapacityErrorRange", VT::kInteger, "10", OPTION(EnCapacityErrorRange), WF::kInteger, 20, LR::kStore, LH::kNone},

    {kExecute, "CapacityCustomize", VT::kInteger, "0", BLOCK(CapacityCustomize), WF::kInteger, 21, LR::kStore, LH::kNone},
    {kExecute, "Capacity", VT::kInteger, "0", BLOCK(Capacity), WF::kInteger, 22, LR::kStore, LH::kNone},
    {kExecute, "EnFreeSpaceCheck", VT::kInteger, "0", BLOCK(EnFreeSpaceCheck), WF::kBoolean, 25, LR::kStore, LH::kNone},
    {kExecute, "FreeSpace", VT::kDecimal, "0", BLOCK(FreeSpace), WF::kText, 23, LR::kStore, LH::kNone},
    {kExecute, "FreeSpaceRange", VT::kDecimal, "0", BLOCK(FreeSpaceRange), WF::kText, 24, LR::kStore, LH::kNone},
    {kExecute, "EnPartition", VT::kInteger, "0", BLOCK(EnPartition), WF::kBoolean, 26, LR::kStore, LH::kNone},
    {kExecute, "nPartitionTblFmt", VT::kInteger, "0", BLOCK(nPartitionTblFmt), WF::kBoolean, 27, LR::kFlag, LH::kNone},
    {kExecute, "EnCloneProduct", VT::kInteger, "0", BLOCK(EnCloneProduct), WF::kBoolean, 47, LR::kStore, LH::kNone},
    {kExecute, "EnFormat", VT::kInteger, "0", BLOCK(EnFormat), WF::kBoolean, 28, LR::kStore, LH::kNone},
    {kExecute, "EnRWTest", VT::kInteger, "0", BLOCK(EnRWTest), WF::kBoolean, 29, LR::kStore, LH::kNone},
    {kExecute, "EnEEPROMUpdate", VT::kInteger, "0", BLOCK(EnEEPROMUpdate), WF::kBoolean, 30, LR::kStore, LH::kNone},
    {kExecute, "EnFWUpdate", VT::kInteger, "0", BLOCK(EnFWUpdate), WF::kBoolean, 31, LR::kStore, LH::kNone},
    {kExecute, "EnSWCopy", VT::kInteger, "0", BLOCK(EnSWCopy), WF::kBoolean, 41, LR::kStore, LH::kNone},
    {kExecute, "EnVenderCheck", VT::kInteger, "0", BLOCK(EnVenderCheck), WF::kBoolean, 38, LR::kStore, LH::kNone},
    {kExecute, "EnUSB30Check", VT::kInteger, "0", BLOCK(EnUSB30Check), WF::kBoolean, 39, LR::kStore, LH::kNone},
    {kExecute, "EnUSB31Gen2Check", VT::kInteger, "0", BLOCK(EnUSB31Gen2Check), WF::kBoolean, 40, LR::kStore, LH::kNone},
    {kExecute, "EnFWCheck", VT::kInteger, "0", BLOCK(EnFWCheck), WF::kBoolean, 44, LR::kStore, LH::kNone},
    {kExecute, "EnFolderCompare", VT::kInteger, "0", BLOCK(EnFolderCompare), WF::kBoolean, 45, LR::kStore, LH::kNone},
    {kExecute, "bAdvenceCompare", VT::kInteger, "0", BLOCK(bAdvenceCompare), WF::kBoolean, 46, LR::kStore, LH::kNone},
    {kExecute, "EnQuickFormat", VT::kInteger, "1", BLOCK(EnQuickFormat), WF::kInteger, 35, LR::kStore, LH::kNone},
    {kExecute, "EnDiskCompression", VT::kInteger, "1", BLOCK(EnDiskCompression), WF::kInteger, 36, LR::kStore, LH::kNone},
    {kExecute, "DiskLabel", VT::kText, "USB Disk", BLOCK(DiskLabel), WF::kQuotedText, 33, LR::kStore, LH::kNone},
    {kExecute, "DiskFormat", VT::kInteger, "0", BLOCK(DiskFormat), WF::kInteger, 32, LR::kFileSystem, LH::kNone},
    {kExecute, "FmtSecPerClus", VT::kInteger, "-1", BLOCK(FmtSecPerClus), WF::kInteger, 37, LR::kStore, LH::kNone},
    {kExecute, "FwFileName", VT::kText, "", BLOCK(FwFileName), WF::kText, 34, LR::kStore, LH::kNone},
    {kExecute, "SwImgPath", VT::kText, "", BLOCK(SwImgPath), WF::kText, 42, LR::kStore, LH::kNone},
    {kExecute, "SwDstFolder", VT::kText, "", BLOCK(SwDstFolder), WF::kText, 43, LR::kStore, LH::kExecuteControls},

    {kEeprom, "VenderID", VT::kText, "6A3E", BLOCK(VenderID), WF::kText, 56, LR::kStore, LH::kNone},
    {kEeprom, "ProductID", VT::kText, "4649", BLOCK(ProductID), WF::kText, 57, LR::kStore, LH::kNone},
    {kEeprom, "StringA", VT::kText, "Orvanta", BLOCK(StringA), WF::kQuotedText, 58, LR::kStore, LH::kNone},
    {kEeprom, "StringB", VT::kText, "USB", BLOCK(StringB), WF::kQuotedText, 59, LR::kStore, LH::kNone},
    {kEeprom, "String3", VT::kText, "012345", BLOCK(String3), WF::kText, 61, LR::kStore, LH::kNone},
    {kEeprom, "StringC", VT::kText, "Orvanta", BLOCK(StringC), WF::kQuotedText, 60, LR::kStore, LH::kNone},
    {kEeprom, "String3Inc", VT::kInteger, "0", BLOCK(String3Inc), WF::kBoolean, 62, LR::kFlag, LH::kNone},
    {kEeprom, "StandbyTimer", VT::kInteger, "0", BLOCK(StandbyTimer), WF::kInteger, 65, LR::kStore, LH::kNone},
    {kEeprom, "EEPROMRetry", VT::kInteger, "1", BLOCK(EEPROMRetry), WF::kInteger, 64, LR::kStore, LH::kNone},
    {kEeprom, "UpdateVID", VT::kInteger, "0", BLOCK(UpdateVID), WF::kInteger, 48, LR::kFlag, LH::kNone},
    {kEeprom, "UpdatePID", VT::kInteger, "0", BLOCK(UpdatePID), WF::kInteger, 49, LR::kFlag, LH::kNone},
    {kEeprom, "UpdateManufString", VT::kInteger, "0", BLOCK(UpdateManufString), WF::kInteger, 50, LR::kFlag, LH::kNone},
    {kEeprom, "UpdateUSBProdString", VT::kInteger, "0", BLOCK(UpdateUSBProdString), WF::kInteger, 51, LR::kFlag, LH::kNone},
    {kEeprom, "UpdateDeviceString", VT::kInteger, "0", BLOCK(UpdateDeviceString), WF::kInteger, 52, LR::kFlag, LH::kNone},
    {kEeprom, "MapToHDName", VT::kInteger, "0", BLOCK(MapToHDName), WF::kBoolean, 53, LR::kFlag, LH::kMapToHDName},
    {kEeprom, "StrBFromHDSN", VT::kInteger, "0", BLOCK(StrBFromHDSN), WF::kInteger, 55, LR::kFlag, LH::kStrBFromHDSN},
    {kEeprom, "StringMaxSn", VT::kText, "0", BLOCK(StringMaxSn), WF::kText, 63, LR::kStore, LH::kStringMaxSn},
    {kEeprom, "EnMultiSec", VT::kInteger, "0", OPTION(EnMultiSec), WF::kInteger, 66, LR::kStore, LH::kNone},
    {kEeprom, "EnManuProdStrSourceCtl", VT::kInteger, "0", BLOCK(EnManuProdStrSourceCtl), WF::kInteger, 67, LR::kStore, LH::kManuProdStrSource},
    {kEeprom, "EnInquiryStrSourceCtl", VT::kInteger, "0", BLOCK(EnInquiryStrSourceCtl), WF::kInteger, 68, LR::kStore, LH::kInquiryStrSource},
    {kEeprom, "EnQVS871StandbyTime", VT::kInteger, "1", OPTION(EnQVS871StandbyTime), WF::kInteger, 69, LR::kStore, LH::kNone},
    {kEeprom, "EnSNfromHDDSN", VT::kInteger, "0", BLOCK(EnSNfromHDDSN), WF::kInteger, 54, LR::kFlag, LH::kSNfromHDDSN},
    {kEeprom, "BarcodeLength", VT::kInteger, "16", BLOCK(BarcodeLength), WF::kInteger, 70, LR::kStore, LH::kBarcodeLength},

    {kPdSwitch, "EnPD", VT::kInteger, "0", BLOCK(EnPD), WF::kNone, -1, LR::kStore, LH::kNone},
    {kLoopDebug, "EnLoopDebug", VT::kInteger, "0", BLOCK(EnLoopDebug), WF::kNone, -1, LR::kStore, LH::kNone},
    {kExecute, "EnEraseFlashOnly", VT::kInteger, "0", BLOCK(EnEraseFlashOnly), WF::kNone, -1, LR::kStore, LH::kNone},

    {kVerify, "VenderID", VT::kText, "6A3E", BLOCK(VerifyVenderID), WF::kText, 71, LR::kStore, LH::kNone},
    {kVerify, "ProductID", VT::kText, "4649", BLOCK(VerifyProductID), WF::kText, 72, LR::kStore, LH::kNone},
    {kVerify, "StringA", VT::kText, "Orvanta", BLOCK(VerifyStringA), WF::kQuotedText, 73, LR::kStore, LH::kNone},
    {kVerify, "StringB", VT::kText, "USB", BLOCK(VerifyStringB), WF::kQuotedText, 74, LR::kStore, LH::kNone},
    {kVerify, "DiskName", VT::kText, "", BLOCK(DiskName), WF::kQuotedText, 75, LR::kStore, LH::kNone},
    {kVerify, "VolumeLabel", VT::kText, "", BLOCK(VolumeLabel), WF::kQuotedText, 81, LR::kStore, LH::kNone},
    {kVerify, "HDDFwRev", VT::kText, "", BLOCK(HDDFwRev), WF::kQuotedText, 83, LR::kStore, LH::kNone},
    {kVerify, "EnCheckVID", VT::kInteger, "0", BLOCK(EnCheckVID), WF::kInteger, 76, LR::kStore, LH::kNone},
    {kVerify, "EnCheckPID", VT::kInteger, "0", BLOCK(EnCheckPID), WF::kInteger, 77, LR::kStore, LH::kNone},
    {kVerify, "EnCheckDiskName", VT::kInteger, "0", BLOCK(EnCheckDiskName), WF::kInteger, 78, LR::kStore, LH::kNone},
    {kVerify, "EnCheckManufString", VT::kInteger, "0", BLOCK(EnCheckManufString), WF::kInteger, 79, LR::kStore, LH::kNone},
    {kVerify, "EnCheckUSBProdString", VT::kInteger, "0", BLOCK(EnCheckUSBProdString), WF::kInteger, 80, LR::kStore, LH::kNone},
    {kVerify, "EnCheckVolLabel", VT::kInteger, "0", BLOCK(EnCheckVolLabel), WF::kInteger, 82, LR::kStore, LH::kNone},
    {kVerify, "EnCheckHDDFwRev", VT::kInteger, "0", BLOCK(EnCheckHDDFwRev), WF::kInteger, 84, LR::kStore, LH::kNone},
};

#undef BLOCK
#undef OPTION

constexpr size_t kInquiryVendorChars = 8;
constexpr size_t kInquiryProductChars = 16;

class Loader {
 public:
  Loader(const platform::IniFile& ini, SdkSettingsBlock& block, StationOptions& options, SdkLoadResult& result)
      : ini_(ini), block_(block), options_(options), result_(result), fx_(result.effects) {}

  void Run() {
    for (const SettingsKey& key : kKeys) {
      if (key.hook == LoadHook::kWriteFileName) {
        station::ReadWriteFileName(ini_, key.section, key.name, key.fallback, block_.WriteFileName);
        result_.result = ini_.ReadString(key.section, key.name, key.fallback).empty() ? 0 : 1;
        continue;
      }
      if (!station::ReadSettingValue(ini_, key, key.field(block_, options_)))
        result_.unreadValues.push_back({key.section, key.name, ini_.Read(key.section, key.name).value_or("")});
      Hook(key.hook);
    }
    FinalControls();
  }

 private:
  void Hook(LoadHook hook) {
    SdkSettingsBlock& b = block_;
    StationOptions& o = options_;
    switch (hook) {
      case LoadHook::kNone:
      case LoadHook::kWriteFileName:
        return;
      case LoadHook::kProductModel:
        station::ProductModelStep(fx_, b);
        return;
      case LoadHook::kMPVersion:
        fx_.Visible("RDCheck", b.MPVersion != 0);
        return;
      case LoadHook::kBarcodeMode:
        if (b.EnBarcodeMode != 0) {
          o.MPAutorun = 0;
          fx_.Enabled("Str3AutoInc", 0);
          fx_.Caption("ExecuteBtn", "BarCode");
        } else {
          fx_.Caption("ExecuteBtn", o.MPAutorun < 1 ? "START" : "AUTO");
        }
        return;
      case LoadHook::kSCSITimeout:
        o.SCSITimeout = b.SCSITimeout;
        if (QV_SetSCSITimeOut_t set = DeviceSdk().QV_SetSCSITimeOut) static_cast<void>(set(b.SCSITimeout));
        return;
      case LoadHook::kExecuteControls:
        ExecuteControls();
        return;
      case LoadHook::kMapToHDName:
        fx_.Checked("StrA2DiskStrChk", b.MapToHDName);
        return;
      case LoadHook::kStrBFromHDSN:
        station::DiskSerialBoxStep(fx_, b);
        return;
      case LoadHook::kStringMaxSn:
        fx_.Visible("maxSNEdit", b.CheckMaxSn);
        fx_.Text("maxSNEdit", FieldText(b.StringMaxSn));
        return;
      case LoadHook::kManuProdStrSource:
        station::StringSourceStep(fx_, "ManuProdSosctlchk", b.EnManuProdStrSourceCtl);
        return;
      case LoadHook::kInquiryStrSource:
        station::StringSourceStep(fx_, "InquirySosctlchk", b.EnInquiryStrSourceCtl);
        return;
      case LoadHook::kSNfromHDDSN:
        fx_.Click(kUpdateStringOptions);
        return;
      case LoadHook::kBarcodeLength:
        if (b.EnBarcodeMode != 0) fx_.MaxLength("SerialNumberEdit", b.BarcodeLength);
        return;
    }
  }

  // After the last QVEXECUTE text: capacity, free space, cluster choice and
  // the format and step boxes, in the order the window must apply them.
  void ExecuteControls() {
    SdkSettingsBlock& b = block_;
    StationOptions& o = options_;
    station::CapacityStep(fx_, b);
    fx_.Checked("PartitionCheckBox", b.EnPartition);
    fx_.Checked("cbCloneProduct", b.EnCloneProduct);
    station::ClusterChoiceStep(fx_, b, o.ClusterChoice);
    station::FormatStep(fx_, b);
    fx_.Checked("RWTestCheckBox", b.EnRWTest);
    fx_.Checked("EEPROMCheckBox", b.EnEEPROMUpdate);
    fx_.Visible("GroupBox2", b.EnEEPROMUpdate);
    fx_.Checked("FWUpdateCheckBox", b.EnFWUpdate);
    fx_.Checked("SWCopyChkBox", b.EnSWCopy);
    fx_.Checked("FWCheckBox", b.EnFWCheck);
    fx_.Checked("enFolderCPChk", b.EnFolderCompare);
    fx_.Checked("bAdvCompareChk", b.bAdvenceCompare);
    fx_.Checked("GPTCheckBox", b.nPartitionTblFmt);
    fx_.Text("SwImgPathEdit", FieldText(b.SwImgPath));
    fx_.Text("DstISOEdit", FieldText(b.SwDstFolder));
  }

  // After the last key: the identity and verification controls.
  void FinalControls() {
    const SdkSettingsBlock& b = block_;
    fx_.Checked("UpdateVIDChk", b.UpdateVID);
    fx_.Checked("UpdatePIDChk", b.UpdatePID);
    fx_.Checked("UpdateManufStringChk", b.UpdateManufString);
    fx_.Checked("UpdateUSBProdStringChk", b.UpdateUSBProdString);
    fx_.Checked("UpdateDeviceStringChk", b.UpdateDeviceString);
    fx_.Text("VendorIDEdit", FieldText(b.VenderID));
    fx_.Text("ProductIDEdit", FieldText(b.ProductID));
    fx_.Text("TimerEdit", std::to_string(b.StandbyTimer));
    const std::string_view stringA = FieldText(b.StringA);
    fx_.Text("VendorStrEdit", stringA.substr(0, kInquiryVendorChars));
    fx_.Text("ProdStrEdit", stringA.size() > kInquiryVendorChars
                                ? stringA.substr(kInquiryVendorChars, kInquiryProductChars)
                                : std::string_view());
    fx_.Text("StringBEdit", FieldText(b.StringB));
    fx_.Text("SerialNumberEdit", FieldText(b.String3));
    fx_.Text("StringCEdit", FieldText(b.StringC));
    fx_.Checked("Str3AutoInc", b.String3Inc);
    fx_.Checked("EEPROMVerifyBox", b.EnVenderCheck);
    fx_.Visible("EEVerifyGroup", b.EnVenderCheck);
    station::VerificationTextStep(fx_, b);
    fx_.Checked("vfVIDChk", b.EnCheckVID);
    fx_.Checked("vfPIDChk", b.EnCheckPID);
    fx_.Checked("vfDiskNameChk", b.EnCheckDiskName);
    fx_.Checked("vfManufStringChk", b.EnCheckManufString);
    fx_.Checked("vfUSBProductStringChk", b.EnCheckUSBProdString);
    fx_.Checked("vfVolLabelChk", b.EnCheckVolLabel);
    fx_.Checked("vfHDDFWRevChk", b.EnCheckHDDFwRev);
    fx_.Checked("enU3CheckBox", b.EnUSB30Check);
    fx_.Checked("enU31Gen2CheckBox", b.EnUSB31Gen2Check);
  }

  const platform::IniFile& ini_;
  SdkSettingsBlock& block_;
  StationOptions& options_;
  SdkLoadResult& result_;
  Effects fx_;
};

}  // namespace

std::span<const SettingsKey> SettingsKeys() { return kKeys; }

std::string YieldText(const SdkSettingsBlock& block) {
  char text[32];
  std::snprintf(text, sizeof text, "%d/%d", block.NumberOfPass, block.TotalTestCount);
  return text;
}

SdkLoadResult LoadSettings(const std::string& path, SdkSettingsBlock& block, StationOptions& options) {
  SdkLoadResult result;
  const std::optional<platform::IniFile> ini = station::BeginSettingsLoad(
      path, {block.TotalTestCount, block.NumberOfPass, options.YieldCountersLoaded}, result);
  if (result.error.empty()) station::Effects(result.effects).Text("YieldEdit", YieldText(block));
  if (!ini) return result;
  Loader(*ini, block, options, result).Run();
  result.settingsRead = 1;
  return result;
}

int SaveSettingsToIni(const std::string& path, SdkSettingsBlock block, const StationOptions& options,
                      std::span<const UnreadValue> unread) {
  StationOptions copy = options;
  std::vector<station::SettingWrite> writes = station::WritesInOrder(SettingsKeys(), block, copy);
  station::FindWrite(writes, "SCSITimeout")->value = copy.SCSITimeout;
  if (copy.ClusterChoice == 0) station::FindWrite(writes, "FmtSecPerClus")->value = -1;
  station::KeepUnreadTexts(writes, unread);
  return station::WriteSettings(path, writes);
}

bool StoreIssuedSerial(const std::string& path, const std::string& serial, SdkSettingsBlock block,
                       const StationOptions& options) {
  SetFieldText(block.String3, serial);
  StationOptions copy = options;
  const std::vector<station::SettingWrite> writes = station::WritesInOrder(SettingsKeys(), block, copy);
  return station::StoreSettingsKeys(path, station::WritesOf(writes, kEeprom, {"String3"}));
}

}  // namespace sdkstation
