// Settings in and out of the window: the control effects of a load, the
// collection of the controls into the settings block (which hands the
// firmware file and the CLONE choice to the library), Load INI and Save INI.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>

#include <optional>
#include <string>
#include <string_view>

#include "bridge/port_table.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "sdkstation/windows/main_form.h"
#include "station/settings_collection.h"
#include "station/step_helpers.h"
#include "station/windows/control_effects.h"
#include "station/windows/control_events.h"
#include "station/windows/program_entry.h"
#include "ui_sdkmainform.h"

namespace sdkstation {
namespace {

using station::OwnEnabled;
using station::OwnVisible;
using station::TextOf;

// The handlers a load runs by name.
constexpr station::NamedHandler<TMainForm> kLoadHandlers[] = {
    {"ManuProdSosctlchk", &TMainForm::ManuProdSosctlchkClick},
    {"InquirySosctlchk", &TMainForm::InquirySosctlchkClick},
    {kUpdateStringOptions, &TMainForm::UpdateStringOptions},
};

constexpr size_t kIdChars = 4;

// An edit's text into its field, cut so that the field keeps its NUL: the
// library reads these fields as terminated texts.
template <size_t N>
void Store(char (&field)[N], const QLineEdit* edit) {
  bridge::SetFieldText(field, TextOf(edit));
}

bool Usable(const QWidget* w) { return OwnVisible(w) && OwnEnabled(w); }
bool CheckedAndUsable(const QCheckBox* box) { return box->isChecked() && Usable(box); }
bool CheckedAndShown(const QCheckBox* box) { return box->isChecked() && OwnVisible(box); }

// The class library's conversion error, as the application shows it.
void ShowConversionError(const std::string& text) {
  platform::MessageBox(text.c_str(), station::kApplicationTitle, platform::kMbOk | platform::kMbIconError);
}

// The value at a choice's position; the field keeps its value while the
// choice has none.
template <size_t N>
void StoreChoice(int32_t& field, const int32_t (&values)[N], int item) {
  if (item >= 0 && static_cast<size_t>(item) < N) field = values[item];
}

}  // namespace

SdkLoadResult TMainForm::LoadSettingsFile(const std::string& path) {
  SdkLoadResult result = LoadSettings(path, settings_, pass_.options);
  freeSpaceLearned_ = false;
  unreadValues_ = result.unreadValues;
  ApplyLoadEffects(result);
  for (const UnreadValue& value : result.unreadValues) ShowConversionError(ConversionError(value));
  return result;
}

void TMainForm::ApplyLoadEffects(const SdkLoadResult& result) {
  station::ApplyControlEffects(*this, result.effects, kLoadHandlers);
}

bool TMainForm::CollectSettingsFromForm() {
  Ui::SdkMainForm& u = *ui;
  SdkSettingsBlock& s = settings_;
  const DeviceSdkTable& sdk = DeviceSdk();
  StoreChoice(s.Capacity, station::kCapacityValues, u.CapChkCmbx->currentIndex());
  s.EnPartition = CheckedAndUsable(u.PartitionCheckBox);
  s.EnCloneProduct = u.cbCloneProduct->isChecked();
  s.EnFormat = CheckedAndUsable(u.FormatCheckBox);
  s.EnRWTest = CheckedAndUsable(u.RWTestCheckBox);
  s.EnEEPROMUpdate = u.EEPROMCheckBox->isChecked();
  s.EnFWUpdate = u.FWUpdateCheckBox->isChecked();
  s.EraseFlashOnly = CheckedAndShown(u.cbEraseFlash);
  if (u.FmtTypeComboBox->currentIndex() >= 0) s.DiskFormat = u.FmtTypeComboBox->currentIndex();
  s.EnSWCopy = CheckedAndUsable(u.SWCopyChkBox);
  s.EnFWCheck = CheckedAndShown(u.FWCheckBox);
  Store(s.DiskLabel, u.VolumeLabeledEdit);
  Store(s.FwFileName, u.FwFileNameEdit);
  static_cast<void>(sdk.QV_SetFWBinFilePath(s.FwFileName));
  Store(s.SwImgPath, u.SwImgPathEdit);
  Store(s.SwDstFolder, u.DstISOEdit);
  s.EnFolderCompare = OwnEnabled(u.enFolderCPChk) && u.enFolderCPChk->isChecked();
  s.bAdvenceCompare = u.bAdvCompareChk->isChecked();
  s.MapToHDName = u.StrA2DiskStrChk->isChecked();
  s.EnManuProdStrSourceCtl = u.ManuProdSosctlchk->isChecked();
  s.EnInquiryStrSourceCtl = u.InquirySosctlchk->isChecked();
  s.nPartitionTblFmt = u.GPTCheckBox->isChecked();
  s.UpdateVID = u.UpdateVIDChk->isChecked();
  s.UpdatePID = u.UpdatePIDChk->isChecked();
  s.UpdateManufString = u.UpdateManufStringChk->isChecked();
  s.UpdateUSBProdString = u.UpdateUSBProdStringChk->isChecked();
  s.UpdateDeviceString = u.UpdateDeviceStringChk->isChecked();
  s.EnVenderCheck = u.EEPROMVerifyBox->isChecked();
  s.EnUSB30Check = CheckedAndShown(u.enU3CheckBox);
  s.EnUSB31Gen2Check = CheckedAndShown(u.enU31Gen2CheckBox);
  s.EraseFlashForDebug = CheckedAndShown(u.cbEraseFlashForDebug);
  if (u.FmtTypeComboBox->currentIndex() == station::kFileSystemFat32) s.FmtSecPerClus = 0;
  else StoreChoice(s.FmtSecPerClus, station::kClusterValues, u.FmtSecPerClusCbox->currentIndex());

  if (s.EnEEPROMUpdate) {
    if (u.StrA2DiskStrChk->isChecked())
      bridge::SetFieldText(s.StringA, station::ComposeInquiryString(TextOf(u.VendorStrEdit), TextOf(u.ProdStrEdit)));
    Store(s.String3, u.SerialNumberEdit);
    Store(s.StringB, u.StringBEdit);
    Store(s.StringC, u.StringCEdit);
    s.String3Inc = u.Str3AutoInc->isChecked();
    s.StrBFromHDSN = u.StrBFromDiskSNChk->isChecked();
    for (auto [edit, field] : {std::pair{u.VendorIDEdit, &s.VenderID}, std::pair{u.ProductIDEdit, &s.ProductID}}) {
      const std::string text = TextOf(edit);
      if (!station::ConvertHex(text)) {
        ShowConversionError("'0x" + text + "' is not a valid integer value");
        return false;
      }
      bridge::SetFieldText(*field, std::string_view(text).substr(0, kIdChars));
    }
  }
  if (s.EnVenderCheck) {
    Store(s.VerifyVenderID, u.vfVIDEdit);
    Store(s.VerifyProductID, u.vfPIDEdit);
    Store(s.VerifyStringA, u.vfStringAEdit);
    Store(s.VerifyStringB, u.vfStringBEdit);
    Store(s.DiskName, u.vfDiskNameEdit);
    Store(s.VolumeLabel, u.vfVolumnLabelEdit);
    Store(s.HDDFwRev, u.vfHDDFWRevEdit);
    s.EnCheckVID = u.vfVIDChk->isChecked();
    s.EnCheckPID = u.vfPIDChk->isChecked();
    s.EnCheckDiskName = u.vfDiskNameChk->isChecked();
    s.EnCheckManufString = u.vfManufStringChk->isChecked();
    s.EnCheckUSBProdString = u.vfUSBProductStringChk->isChecked();
    s.EnCheckVolLabel = CheckedAndUsable(u.vfVolLabelChk);
    s.EnCheckHDDFwRev = CheckedAndUsable(u.vfHDDFWRevChk);
  }
  if (s.CheckMaxSn) Store(s.StringMaxSn, u.maxSNEdit);
  static_cast<void>(sdk.QV_SetCloneProduct(u.cbCloneProduct->isChecked() ? 1 : 0));
  return true;
}

void TMainForm::INILoadBtnClick() {
  if (OpenDialog1.initialFolder.empty()) OpenDialog1.initialFolder = platform::ProgramFolder();
  const std::optional<std::string> chosen = platform::ChooseFile(OpenDialog1);
  if (!chosen) return;
  iniPath_ = *chosen;
  LoadSettingsFile(iniPath_);
  if (settings_.EnBarcodeMode) ui->SerialNumberPanel->setEnabled(true);
  RefreshBtnClick();
}

void TMainForm::INISaveBtnClick() {
  if (!CollectSettingsFromForm()) return;
  if (SaveDialog1.initialFolder.empty()) SaveDialog1.initialFolder = platform::ProgramFolder();
  const std::optional<std::string> chosen = platform::ChooseFile(SaveDialog1);
  if (!chosen) return;
  iniPath_ = *chosen;
  SdkSettingsBlock saved = settings_;
  if (freeSpaceLearned_) saved.FreeSpace = 0;
  static_cast<void>(SaveSettingsToIni(iniPath_, saved, Options(), unreadValues_));  // a failure was shown
}

}  // namespace sdkstation
