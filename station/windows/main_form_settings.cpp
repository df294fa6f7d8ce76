// Settings in and out of the window: the control effects of a load, the
// collection of the controls into the settings block, Load INI and Save INI.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "station/step_helpers.h"
#include "station/windows/control_effects.h"
#include "station/windows/control_events.h"
#include "station/windows/main_form.h"
#include "ui_mainform.h"

namespace station {
namespace {

// The handlers a load runs by name.
constexpr NamedHandler<TMainForm> kLoadHandlers[] = {
    {"cbCloneProduct", &TMainForm::cbCloneProductClick},
    {"ManuProdSosctlchk", &TMainForm::ManuProdSosctlchkClick},
    {"InquirySosctlchk", &TMainForm::InquirySosctlchkClick},
    {"EEPROMType", &TMainForm::EEPROMTypeChange},
};

template <class Field>
void StoreText(Field& field, const QLineEdit* edit) {
  SetFieldText(field, TextOf(edit));
}

}  // namespace

LoadResult TMainForm::LoadSettingsFile(const std::string& path) {
  LoadResult result = LoadSettings(path, settings_, pass_.options);
  unreadValues_ = result.unreadValues;
  ApplyLoadEffects(result);
  for (const UnreadValue& value : result.unreadValues) ShowSettingsError(ConversionError(value));
  return result;
}

void TMainForm::ApplyLoadEffects(const LoadResult& result) { ApplyControlEffects(*this, result.effects, kLoadHandlers); }

CollectError TMainForm::CollectSettingsFromForm() {
  Ui::TMainForm& u = *ui;
  SettingsBlock& s = settings_;
  s.Capacity = CapacityOfItem(u.CapChkCmbx->currentIndex());
  s.EnPartition = u.PartitionCheckBox->isChecked();
  s.EnCloneProduct = u.cbCloneProduct->isChecked();
  s.EnFormat = u.FormatCheckBox->isChecked();
  s.EnRWTest = u.RWTestCheckBox->isChecked();
  s.EnEEPROMUpdate = u.EEPROMCheckBox->isChecked();
  s.EnFWUpdate = u.FWUpdateCheckBox->isChecked();
  s.DiskFormat = static_cast<uint8_t>(std::max(u.FmtTypeComboBox->currentIndex(), 0));
  s.EnSWCopy = OwnEnabled(u.SWCopyChkBox) && u.SWCopyChkBox->isChecked();
  s.EnFWCheck = OwnVisible(u.FWCheckBox) && u.FWCheckBox->isChecked();
  StoreText(s.DiskLabel, u.VolumeLabeledEdit);
  StoreText(s.FwFileName, u.FwFileNameEdit);
  StoreText(s.SwImgPath, u.SwImgPathEdit);
  StoreText(s.SwDstFolder, u.DstISOEdit);
  s.EnFolderCompare = OwnEnabled(u.enFolderCPChk) && u.enFolderCPChk->isChecked();
  s.bAdvenceCompare = u.bAdvCompareChk->isChecked();
  s.MapToHDName = u.StrA2DiskStrChk->isChecked();
  s.WriteTwoFlashBanks = u.Writetwoflashchk->isChecked();
  s.EnManuProdStrSourceCtl = u.ManuProdSosctlchk->isChecked();
  s.EnInquiryStrSourceCtl = u.InquirySosctlchk->isChecked();
  s.EnVenderCheck = u.EEPROMVerifyBox->isChecked();
  s.EnUSB30Check = OwnVisible(u.enU3CheckBox) && u.enU3CheckBox->isChecked();
  s.EnUSB31Gen2Check = OwnVisible(u.enU31Gen2CheckBox) && u.enU31Gen2CheckBox->isChecked();
  s.FmtSecPerClus = u.FmtTypeComboBox->currentIndex() == kFileSystemFat32
                        ? 0
                        : ClusterSizeOfItem(u.FmtSecPerClusCbox->currentIndex());

  if (s.EnEEPROMUpdate) {
    const std::string vendor = TextOf(u.VendorStrEdit);
    const std::string product = TextOf(u.ProdStrEdit);
    SetFieldText(s.StringA, u.StrA2DiskStrChk->isChecked() ? ComposeInquiryString(vendor, product)
                                                            : TextOf(u.StringAEdit));
    // These four fill their fields, without a terminator when they fit exactly.
    SetFixedText(s.InquiryVendor, vendor);
    SetFixedText(s.InquiryProduct, product);
    SetFixedText(s.StringCText, TextOf(u.StringCEdit));
    SetFixedText(s.StringBText, TextOf(u.StringBEdit));
    StoreSerialNumber(s, TextOf(u.String3Edit));
    StoreText(s.StringB, u.StringBEdit);
    StoreText(s.StringC, u.StringCEdit);
    s.StringAInc = u.StrAAutoInc->isChecked();
    s.String3Inc = u.Str3AutoInc->isChecked();
    s.StrBFromHDSN = u.StrBFromDiskSNChk->isChecked();
    CollectLayout(s, Options(), mix_, u.EEPROMType->currentIndex(), u.Q646FlashComboBox->currentIndex());
    const CollectError idError = CollectIds(s, TextOf(u.VendorIDEdit), TextOf(u.ProductIDEdit));
    if (idError != CollectError::kNone) {
      const QLineEdit* edit = idError == CollectError::kVendorId ? u.VendorIDEdit : u.ProductIDEdit;
      platform::MessageBox(CollectErrorMessage(idError, TextOf(edit)).c_str(), "Error",
                           platform::kMbOk | platform::kMbIconError);
      return idError;
    }
    StoreText(s.ProductRevsion, u.RevisionEdit);
    const std::string oddText = TextOf(u.OddSizeEdit);
    const std::optional<int32_t> odd = oddText.empty() ? 0 : ConvertInteger(oddText);
    if (!odd) {
      platform::MessageBox(CollectErrorMessage(CollectError::kOddSize, oddText).c_str(), "Error",
                           platform::kMbOk | platform::kMbIconError);
      return CollectError::kOddSize;
    }
    s.ODDSize = *odd;
  }
  if (s.EnVenderCheck) {
    StoreText(s.VerifyVenderID, u.vfVIDEdit);
    StoreText(s.VerifyProductID, u.vfPIDEdit);
    StoreText(s.VerifyStringA, u.vfStringAEdit);
    StoreText(s.VerifyStringB, u.vfStringBEdit);
    StoreText(s.DiskName, u.vfDiskNameEdit);
    StoreText(s.VolumeLabel, u.vfVolumnLabelEdit);
    StoreText(s.HDDFwRev, u.vfHDDFWRevEdit);
    s.EnCheckDiskName = u.vfDiskNameChk->isChecked();
    s.EnCheckVolLabel = u.vfVolLabelChk->isChecked();
    s.EnCheckHDDFwRev = u.vfHDDFWRevChk->isChecked();
  }
  if (Options().CheckMaxSn) StoreText(s.StringMaxSn, u.maxSNEdit);
  return CollectError::kNone;
}

void TMainForm::INILoadBtnClick() {
  if (waiting_) return;  // the settings of a running pass stay as they are
  if (OpenDialog1.initialFolder.empty()) OpenDialog1.initialFolder = platform::ProgramFolder();
  const std::optional<std::string> chosen = platform::ChooseFile(OpenDialog1);
  if (!chosen) return;
  iniPath_ = *chosen;
  LoadSettingsFile(iniPath_);
  if (settings_.EnBarcodeMode) ui->Panel5->setEnabled(true);
  RefreshBtnClick();
}

void TMainForm::INISaveBtnClick() {
  if (waiting_) return;
  if (CollectSettingsFromForm() != CollectError::kNone) return;
  if (SaveDialog1.initialFolder.empty()) SaveDialog1.initialFolder = platform::ProgramFolder();
  const std::optional<std::string> chosen = platform::ChooseFile(SaveDialog1);
  if (!chosen) return;
  iniPath_ = *chosen;
  static_cast<void>(SaveSettingsToIni(iniPath_, settings_, Options(), unreadValues_));  // a failure was shown
}

}  // namespace station
