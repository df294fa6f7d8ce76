#include "station/settings_file.h"

#include <cstdio>
#include <optional>

#include "platform/ini_file.h"
#include "platform/program_folder.h"
#include "station/settings_collection.h"
#include "station/settings_load_steps.h"
#include "station/step_helpers.h"

namespace station {
namespace {

#define BLOCK(f) [](SettingsBlock& b, StationOptions&) { return FieldRefOf(b.f); }
#define OPTION(f) [](SettingsBlock&, StationOptions& o) { return FieldRefOf(o.f); }

using VT = ValueType;
using WF = WriteForm;
using LR = LoadRule;
using LH = LoadHook;

constexpr char kSetting[] = "setting";
constexpr char kExecute[] = "QVEXECUTE";
constexpr char kEeprom[] = "QVEEPROM";
constexpr char kPdSwitch[] = "884PDswitch";
constexpr char kLoopDebug[] = "LoopDebug";
constexpr char kVerify[] = "QVEEPROMVERIFY";

// In the reading order. Columns: section, key, read as, default, field,
// written as, position in the writing order, load rule, load step.
constexpr SettingsKey kKeys[] = {
    {kSetting, "USBWritePerformance", VT::kInteger, "0", BLOCK(USBWritePerformance), WF::kInteger, 0, LR::kStore, LH::kNone},
    {kSetting, "USBReadPerformance", VT::kInteger, "0", BLOCK(USBReadPerformance), WF::kInteger, 1, LR::kStore, LH::kNone},
    {kSetting, "ShowRWPerf", VT::kInteger, "0", BLOCK(ShowRWPerf), WF::kInteger, 2, LR::kStore, LH::kNone},
    {kSetting, "WriteFileName", VT::kText, "", BLOCK(WriteFileName), WF::kText, 3, LR::kStore, LH::kWriteFileName},
    {kSetting, "ProductModel", VT::kText, "QV", BLOCK(ProductModel), WF::kText, 4, LR::kStore, LH::kProductModel},
    {kSetting, "WRLoop", VT::kInteger, "7", BLOCK(WRLoop), WF::kInteger, 5, LR::kStore, LH::kNone},
    {kSetting, "RWDataSize", VT::kInteger, "2", BLOCK(RWDataSize), WF::kInteger, 6, LR::kZeroIsTwo, LH::kNone},
    {kSetting, "EEPROMOnly", VT::kInteger, "0", OPTION(EEPROMOnly), WF::kInteger, 7, LR::kStore, LH::kNone},
    {kSetting, "SupportODD", VT::kInteger, "0", OPTION(SupportODD), WF::kInteger, 8, LR::kStore, LH::kNone},
    {kSetting, "CheckMaxSn", VT::kInteger, "0", OPTION(CheckMaxSn), WF::kInteger, 9, LR::kStore, LH::kNone},
    {kSetting, "MPVersion", VT::kInteger, "0", BLOCK(MPVersion), WF::kInteger, 10, LR::kWhileZero, LH::kMPVersion},
    {kSetting, "MPSafeRemove", VT::kInteger, "0", OPTION(MPSafeRemove), WF::kInteger, 11, LR::kStore, LH::kNone},
    {kSetting, "MPEEPROMToLog", VT::kInteger, "0", OPTION(MPEEPROMToLog), WF::kInteger, 12, LR::kStore, LH::kNone},
    {kSetting, "PerfShift", VT::kFloat, "1", BLOCK(PerfShift), WF::kFloat, 13, LR::kStore, LH::kNone},
    {kSetting, "MPPassLabel", VT::kInteger, "0", OPTION(MPPassLabel), WF::kInteger, 14, LR::kStore, LH::kNone},
    {kSetting, "MPAutorun", VT::kInteger, "0", OPTION(MPAutorun), WF::kInteger, 15, LR::kNotNegative, LH::kNone},
    {kSetting, "EnKey0SafeRemove", VT::kInteger, "0", BLOCK(EnKey0SafeRemove), WF::kInteger, 20, LR::kStore, LH::kNone},
    {kSetting, "EnBarcodeMode", VT::kInteger, "0", BLOCK(EnBarcodeMode), WF::kInteger, 19, LR::kStore, LH::kBarcodeMode},
    {kSetting, "MPResetWait", VT::kInteger, "30", BLOCK(MPResetWait), WF::kInteger, 16, LR::kStore, LH::kNone},
    {kSetting, "MPSnAToZ", VT::kInteger, "0", OPTION(MPSnAToZ), WF::kInteger, 17, LR::kStore, LH::kNone},
    {kSetting, "MPPortReset", VT::kInteger, "0", BLOCK(MPPortReset), WF::kInteger, 18, LR::kStore, LH::kNone},
    {kSetting, "EnEPPTypeC", VT::kInteger, "0", BLOCK(EnEPPTypeC), WF::kInteger, 21, LR::kStore, LH::kEppTypeC},
    // Pauses in milliseconds: a negative one would be a sleep of 49 days.
    {kSetting, "EPPPowerGPIODelay", VT::kInteger, "0", BLOCK(EPPPowerGPIODelay), WF::kNone, -1, LR::kNotNegative, LH::kNone},
    {kSetting, "EPPPowerOnDelay", VT::kInteger, "0", BLOCK(EPPPowerOnDelay), WF::kNone, -1, LR::kStore, LH::kNone},
    {kSetting, "EPPPowerOffDelay", VT::kInteger, "0", BLOCK(EPPPowerOffDelay), WF::kNone, -1, LR::kNotNegative, LH::kNone},
    {kSetting, "MPDevCount", VT::kInteger, "0", OPTION(MPDevCount), WF::kNone, -1, LR::kNotNegative, LH::kNone},
    {kSetting, "MPEEPROMAtHDD", VT::kInteger, "0", OPTION(MPEEPROMAtHDD), WF::kNone, -1, LR::kStore, LH::kNone},
    {kSetting, "MPPellmarCustomer", VT::kInteger, "0", OPTION(MPPellmarCustomer), WF::kNone, -1, LR::kStore, LH::kNone},
    {kSetting, "SCSITimeout", VT::kInteger, "10", OPTION(SCSITimeout), WF::kNone, -1, LR::kUnsigned, LH::kNone},

    {kExecute, "CapacityCustomize", VT::kInteger, "0", BLOCK(CapacityCustomize), WF::kInteger, 22, LR::kStore, LH::kNone},
    {kExecute, "Capacity", VT::kInteger, "0", BLOCK(Capacity), WF::kInteger, 23, LR::kStore, LH::kNone},
    {kExecute, "EnFreeSpaceCheck", VT::kInteger, "0", BLOCK(EnFreeSpaceCheck), WF::kBoolean, 26, LR::kStore, LH::kNone},
    {kExecute, "FreeSpace", VT::kDecimal, "0", BLOCK(FreeSpace), WF::kText, 24, LR::kStore, LH::kNone},
    {kExecute, "FreeSpaceRange", VT::kDecimal, "0", BLOCK(FreeSpaceRange), WF::kText, 25, LR::kStore, LH::kNone},
    {kExecute, "EnPartition", VT::kInteger, "0", BLOCK(EnPartition), WF::kBoolean, 27, LR::kStore, LH::kNone},
    {kExecute, "EnCloneProduct", VT::kInteger, "0", BLOCK(EnCloneProduct), WF::kBoolean, 45, LR::kStore, LH::kNone},
    {kExecute, "EnFormat", VT::kInteger, "0", BLOCK(EnFormat), WF::kBoolean, 28, LR::kStore, LH::kNone},
    {kExecute, "EnRWTest", VT::kInteger, "0", BLOCK(EnRWTest), WF::kBoolean, 29, LR::kStore, LH::kNone},
    {kExecute, "EnEEPROMUpdate", VT::kInteger, "0", BLOCK(EnEEPROMUpdate), WF::kBoolean, 30, LR::kStore, LH::kNone},
    {kExecute, "EnFWUpdate", VT::kInteger, "0", BLOCK(EnFWUpdate), WF::kBoolean, 31, LR::kStore, LH::kNone},
    {kExecute, "EnSWCopy", VT::kInteger, "0", BLOCK(EnSWCopy), WF::kBoolean, 39, LR::kStore, LH::kNone},
    {kExecute, "EnVenderCheck", VT::kInteger, "0", BLOCK(EnVenderCheck), WF::kBoolean, 36, LR::kStore, LH::kNone},
    {kExecute, "EnUSB30Check", VT::kInteger, "0", BLOCK(EnUSB30Check), WF::kBoolean, 37, LR::kStore, LH::kNone},
    {kExecute, "EnUSB31Gen2Check", VT::kInteger, "0", BLOCK(EnUSB31Gen2Check), WF::kBoolean, 38, LR::kStore, LH::kNone},
    {kExecute, "EnFWCheck", VT::kInteger, "0", BLOCK(EnFWCheck), WF::kBoolean, 42, LR::kStore, LH::kNone},
    {kExecute, "EnFolderCompare", VT::kInteger, "0", BLOCK(EnFolderCompare), WF::kBoolean, 43, LR::kStore, LH::kNone},
    {kExecute, "bAdvenceCompare", VT::kInteger, "0", BLOCK(bAdvenceCompare), WF::kBoolean, 44, LR::kStore, LH::kNone},
    {kExecute, "DiskLabel", VT::kText, "USB Disk", BLOCK(DiskLabel), WF::kText, 33, LR::kStore, LH::kNone},
    {kExecute, "DiskFormat", VT::kInteger, "0", BLOCK(DiskFormat), WF::kInteger, 32, LR::kFileSystem, LH::kNone},
    {kExecute, "FmtSecPerClus", VT::kInteger, "-1", BLOCK(FmtSecPerClus), WF::kInteger, 35, LR::kStore, LH::kNone},
    {kExecute, "FwFileName", VT::kText, "", BLOCK(FwFileName), WF::kText, 34, LR::kStore, LH::kNone},
    {kExecute, "SwImgPath", VT::kText, "", BLOCK(SwImgPath), WF::kText, 40, LR::kStore, LH::kNone},
    {kExecute, "SwDstFolder", VT::kText, "", BLOCK(SwDstFolder), WF::kText, 41, LR::kStore, LH::kNone},

    {kEeprom, "VenderID", VT::kText, "6A3E", BLOCK(VenderID), WF::kText, 50, LR::kStore, LH::kNone},
    {kEeprom, "ProductID", VT::kText, "4649", BLOCK(ProductID), WF::kText, 51, LR::kStore, LH::kNone},
    {kEeprom, "StringA", VT::kText, "Orvanta", BLOCK(StringA), WF::kText, 52, LR::kStore, LH::kNone},
    {kEeprom, "StringB", VT::kText, "USB", BLOCK(StringB), WF::kText, 53, LR::kStore, LH::kNone},
    {kEeprom, "String3", VT::kText, "012345", BLOCK(String3), WF::kText, 55, LR::kStore, LH::kNone},
    {kEeprom, "StringC", VT::kText, "Orvanta", BLOCK(StringC), WF::kText, 54, LR::kStore, LH::kNone},
    {kEeprom, "StringAInc", VT::kInteger, "0", BLOCK(StringAInc), WF::kBoolean, 56, LR::kFlag, LH::kNone},
    {kEeprom, "StringBInc", VT::kInteger, "0", BLOCK(StringBInc), WF::kBoolean, 57, LR::kFlag, LH::kNone},
    {kEeprom, "String3Inc", VT::kInteger, "0", BLOCK(String3Inc), WF::kBoolean, 58, LR::kFlag, LH::kNone},
    {kEeprom, "StandbyTimer", VT::kInteger, "0", BLOCK(StandbyTimer), WF::kInteger, 64, LR::kStore, LH::kNone},
    {kEeprom, "ProductRevsion", VT::kText, "0000", BLOCK(ProductRevsion), WF::kText, 66, LR::kStore, LH::kNone},
    {kEeprom, "ODDSize", VT::kInteger, "0", BLOCK(ODDSize), WF::kInteger, 67, LR::kStore, LH::kNone},
    {kEeprom, "FlashType", VT::kInteger, "0", OPTION(FlashType), WF::kInteger, 59, LR::kStore, LH::kFlashType},
    {kEeprom, "EEPROMRetry", VT::kInteger, "1", BLOCK(EEPROMRetry), WF::kInteger, 61, LR::kStore, LH::kEEPROMRetry},
    {kEeprom, "MapToHDName", VT::kInteger, "0", BLOCK(MapToHDName), WF::kBoolean, 47, LR::kFlag, LH::kMapToHDName},
    {kEeprom, "StrBFromHDSN", VT::kInteger, "0", BLOCK(StrBFromHDSN), WF::kInteger, 49, LR::kFlag, LH::kStrBFromHDSN},
    {kEeprom, "StringMaxSn", VT::kText, "0", BLOCK(StringMaxSn), WF::kText, 60, LR::kStore, LH::kStringMaxSn},
    {kEeprom, "QVB819WDHDD", VT::kInteger, "0", OPTION(QVB819WDHDD), WF::kInteger, 63, LR::kStore, LH::kNone},
    {kEeprom, "EnOver2TBMulLun", VT::kInteger, "0", OPTION(EnOver2TBMulLun), WF::kInteger, 69, LR::kStore, LH::kNone},
    {kEeprom, "EnMultiSec", VT::kInteger, "0", OPTION(EnMultiSec), WF::kInteger, 68, LR::kStore, LH::kNone},
    {kEeprom, "QV843PWMode", VT::kInteger, "0", OPTION(QV843PWMode), WF::kInteger, 65, LR::kStore, LH::kNone},
    {kEeprom, "QVB819REU", VT::kInteger, "0", OPTION(QVB819REU), WF::kInteger, 62, LR::kStore, LH::kNone},
    {kEeprom, "EnManuProdStrSourceCtl", VT::kInteger, "0", BLOCK(EnManuProdStrSourceCtl), WF::kInteger, 70, LR::kStore, LH::kManuProdStrSource},
    {kEeprom, "EnInquiryStrSourceCtl", VT::kInteger, "0", BLOCK(EnInquiryStrSourceCtl), WF::kInteger, 71, LR::kStore, LH::kInquiryStrSource},
    {kEeprom, "EnQVS871StandbyTime", VT::kInteger, "1", OPTION(EnQVS871StandbyTime), WF::kInteger, 72, LR::kStore, LH::kNone},
    {kEeprom, "EnSNfromHDDSN", VT::kInteger, "0", BLOCK(EnSNfromHDDSN), WF::kInteger, 48, LR::kFlag, LH::kSNfromHDDSN},
    {kEeprom, "BarcodeLength", VT::kInteger, "16", BLOCK(BarcodeLength), WF::kInteger, 73, LR::kStore, LH::kBarcodeLength},
    {kEeprom, "TableType", VT::kNone, "", BLOCK(TableType), WF::kInteger, 46, LR::kStore, LH::kNone},

    {kPdSwitch, "EnPD", VT::kInteger, "0", BLOCK(EnPD), WF::kNone, -1, LR::kStore, LH::kNone},
    {kLoopDebug, "EnLoopDebug", VT::kInteger, "0", BLOCK(EnLoopDebug), WF::kNone, -1, LR::kStore, LH::kNone},

    {kVerify, "VenderID", VT::kText, "6A3E", BLOCK(VerifyVenderID), WF::kText, 74, LR::kStore, LH::kNone},
    {kVerify, "ProductID", VT::kText, "4649", BLOCK(VerifyProductID), WF::kText, 75, LR::kStore, LH::kNone},
    {kVerify, "StringA", VT::kText, "Orvanta", BLOCK(VerifyStringA), WF::kText, 76, LR::kStore, LH::kNone},
    {kVerify, "StringB", VT::kText, "USB", BLOCK(VerifyStringB), WF::kText, 77, LR::kStore, LH::kNone},
    {kVerify, "DiskName", VT::kText, "", BLOCK(DiskName), WF::kText, 78, LR::kStore, LH::kNone},
    {kVerify, "VolumeLabel", VT::kText, "", BLOCK(VolumeLabel), WF::kText, 80, LR::kStore, LH::kNone},
    {kVerify, "HDDFwRev", VT::kText, "", BLOCK(HDDFwRev), WF::kText, 82, LR::kStore, LH::kNone},
    {kVerify, "EnCheckDiskName", VT::kInteger, "0", BLOCK(EnCheckDiskName), WF::kInteger, 79, LR::kStore, LH::kNone},
    {kVerify, "EnCheckVolLabel", VT::kInteger, "0", BLOCK(EnCheckVolLabel), WF::kInteger, 81, LR::kStore, LH::kNone},
    {kVerify, "EnCheckHDDFwRev", VT::kInteger, "0", BLOCK(EnCheckHDDFwRev), WF::kInteger, 83, LR::kStore, LH::kNone},
};

#undef BLOCK
#undef OPTION

class Loader {
 public:
  Loader(const platform::IniFile& ini, SettingsBlock& block, StationOptions& options, LoadResult& result)
      : ini_(ini), block_(block), options_(options), result_(result), fx_(result.effects) {}

  void Run() {
    std::string_view section;
    for (const SettingsKey& key : kKeys) {
      if (key.section != section && section == kExecute) ExecuteControls();
      section = key.section;
      if (key.type == ValueType::kNone) continue;
      if (key.hook == LoadHook::kWriteFileName) {
        WriteFileName(key);
        continue;
      }
      Read(key);
      Hook(key);
    }
    FinalControls();
  }

 private:
  void Read(const SettingsKey& key) {
    if (!ReadSettingValue(ini_, key, key.field(block_, options_)))
      result_.unreadValues.push_back({key.section, key.name, ini_.Read(key.section, key.name).value_or("")});
  }

  void WriteFileName(const SettingsKey& key) {
    ReadWriteFileName(ini_, key.section, key.name, key.fallback, block_.WriteFileName);
  }

  void Hook(const SettingsKey& key) {
    SettingsBlock& b = block_;
    StationOptions& o = options_;
    switch (key.hook) {
      case LoadHook::kNone:
      case LoadHook::kWriteFileName:
        return;
      case LoadHook::kProductModel:
        ProductModelStep(fx_, b);
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
          fx_.Caption("ExecuteBtn", o.MPAutorun != 0 ? "AUTO" : "START");
        }
        return;
      case LoadHook::kEppTypeC:
        if (b.EnEPPTypeC != 0) o.KeepEppDevice = 1;
        else fx_.Enabled("Timer_EPP", 0);
        return;
      case LoadHook::kFlashType:
        fx_.ItemIndex("Q646FlashComboBox", o.FlashType == 255 ? -1 : o.FlashType);
        return;
      case LoadHook::kEEPROMRetry:
        b.TableType = 3;
        fx_.ItemIndex("EEPROMType", 2);
        fx_.Enabled("EEPROMType", 0);
        return;
      case LoadHook::kMapToHDName:
        fx_.Checked("StrA2DiskStrChk", b.MapToHDName);
        return;
      case LoadHook::kStrBFromHDSN:
        DiskSerialBoxStep(fx_, b);
        return;
      case LoadHook::kStringMaxSn:
        if (o.CheckMaxSn != 0) {
          fx_.Visible("maxSNEdit", 1);
          fx_.Text("maxSNEdit", FieldText(b.StringMaxSn));
        } else {
          fx_.Visible("maxSNEdit", 0);
        }
        return;
      case LoadHook::kManuProdStrSource:
        StringSourceStep(fx_, "ManuProdSosctlchk", b.EnManuProdStrSourceCtl);
        return;
      case LoadHook::kInquiryStrSource:
        StringSourceStep(fx_, "InquirySosctlchk", b.EnInquiryStrSourceCtl);
        return;
      case LoadHook::kSNfromHDDSN:
        fx_.Change("EEPROMType");
        return;
      case LoadHook::kBarcodeLength:
        if (b.EnBarcodeMode != 0) fx_.MaxLength("String3Edit", b.BarcodeLength);
        return;
    }
  }

  // After the last QVEXECUTE key: capacity, free space, cluster choice and
  // the format and step boxes, in the order the window must apply them.
  void ExecuteControls() {
    SettingsBlock& b = block_;
    StationOptions& o = options_;
    o.FreeSpaceCheck = b.EnFreeSpaceCheck != 0;
    CapacityStep(fx_, b);
    fx_.Checked("PartitionCheckBox", b.EnPartition);
    fx_.Checked("cbCloneProduct", b.EnCloneProduct);
    fx_.Click("cbCloneProduct");
    ClusterChoiceStep(fx_, b, o.ClusterChoice);
    FormatStep(fx_, b);
    fx_.Checked("RWTestCheckBox", b.EnRWTest);
    fx_.Checked("EEPROMCheckBox", b.EnEEPROMUpdate);
    fx_.Visible("GroupBox2", b.EnEEPROMUpdate);
    fx_.Visible("Panel5", b.EnEEPROMUpdate);
    fx_.Checked("FWUpdateCheckBox", b.EnFWUpdate);
    fx_.Checked("SWCopyChkBox", b.EnSWCopy);
    fx_.Text("SwImgPathEdit", FieldText(b.SwImgPath));
    fx_.Text("DstISOEdit", FieldText(b.SwDstFolder));
    fx_.Checked("FWCheckBox", b.EnFWCheck);
    fx_.Checked("enFolderCPChk", b.EnFolderCompare);
    fx_.Checked("bAdvCompareChk", b.bAdvenceCompare);
  }

  // After the last key: the identity and verification controls.
  void FinalControls() {
    const SettingsBlock& b = block_;
    fx_.Text("VendorIDEdit", FieldText(b.VenderID));
    fx_.Text("ProductIDEdit", FieldText(b.ProductID));
    fx_.Text("TimerEdit", std::to_string(b.StandbyTimer));
    fx_.Text("RevisionEdit", FieldText(b.ProductRevsion));
    fx_.Text("OddSizeEdit", std::to_string(b.ODDSize));
    const std::string_view stringA = FieldText(b.StringA);
    if (b.MapToHDName != 0) {
      fx_.Text("VendorStrEdit", stringA.substr(0, 8));
      fx_.Text("ProdStrEdit", stringA.size() > 8 ? stringA.substr(8, 16) : std::string_view());
    } else {
      fx_.Text("StringAEdit", stringA);
    }
    fx_.Text("StringBEdit", FieldText(b.StringB));
    fx_.Text("String3Edit", FieldText(b.String3));
    fx_.Text("StringCEdit", FieldText(b.StringC));
    fx_.Checked("Str3AutoInc", b.String3Inc);
    fx_.Visible("EnableUSBFirst", 0);
    fx_.Checked("EEPROMVerifyBox", b.EnVenderCheck);
    fx_.Visible("EEVerifyGroup", b.EnVenderCheck);
    VerificationTextStep(fx_, b);
    fx_.Checked("vfDiskNameChk", b.EnCheckDiskName);
    fx_.Checked("vfVolLabelChk", b.EnCheckVolLabel);
    fx_.Checked("vfHDDFWRevChk", b.EnCheckHDDFwRev);
    fx_.Checked("enU3CheckBox", b.EnUSB30Check);
    fx_.Checked("enU31Gen2CheckBox", b.EnUSB31Gen2Check);
  }

  const platform::IniFile& ini_;
  SettingsBlock& block_;
  StationOptions& options_;
  LoadResult& result_;
  Effects fx_;
};

std::string YieldText(const SettingsBlock& block) {
  char text[32];
  std::snprintf(text, sizeof text, "%d / %d", block.NumberOfPass, block.TotalTestCount);
  return text;
}

}  // namespace

std::span<const SettingsKey> SettingsKeys() { return kKeys; }

LoadResult LoadSettings(const std::string& path, SettingsBlock& block, StationOptions& options) {
  LoadResult result;
  const std::optional<platform::IniFile> ini = BeginSettingsLoad(
      path, {block.TotalTestCount, block.NumberOfPass, options.YieldCountersLoaded}, result);
  if (result.error.empty()) Effects(result.effects).Text("YieldEdit", YieldText(block));
  if (!ini) return result;
  Loader(*ini, block, options, result).Run();
  result.settingsRead = 1;
  return result;
}

int SaveSettingsToIni(const std::string& path, SettingsBlock block, const StationOptions& options,
                      std::span<const UnreadValue> unread) {
  StationOptions copy = options;
  std::vector<SettingWrite> writes = WritesInOrder(SettingsKeys(), block, copy);
  KeepUnreadTexts(writes, unread);
  if (copy.ClusterChoice == 0) FindWrite(writes, "FmtSecPerClus")->value = -1;
  // The flash type goes out as a signed byte: 255, no type, is written -1.
  FindWrite(writes, "FlashType")->value = static_cast<int8_t>(copy.FlashType);
  return WriteSettings(path, writes);
}

bool StoreIssuedSerials(const std::string& path, SettingsBlock block, const StationOptions& options) {
  StationOptions copy = options;
  const std::vector<SettingWrite> writes = WritesInOrder(SettingsKeys(), block, copy);
  return StoreSettingsKeys(path, WritesOf(writes, kEeprom, {"StringA", "StringB", "String3"}));
}

}  // namespace station
