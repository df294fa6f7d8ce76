// The device list refresh: rescan the attached products, then fit the
// settings controls to the chip mix and decide whether START may be pressed.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "bridge/firmware_file_check.h"
#include "platform/message_box.h"
#include "station/device_list_scan.h"
#include "station/windows/control_events.h"
#include "station/windows/main_form.h"
#include "ui_mainform.h"

namespace station {
namespace {

constexpr uint32_t kGreen = 0x008000;
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kRed = 0x0000FF;
constexpr int kStringBBelowStringC = 13;
constexpr int kStringBBelowStringCHdd = 24;
// Before the rebuild, the type list is asked for its third item ("Type 3"),
// the QVS646 family's list for its second.
constexpr int32_t kWantedTypeItem = 2;
constexpr int32_t kWantedQvs646TypeItem = 1;

// The flag of the refresh in progress; handlers that would rescan do not.
class RefreshScope {
 public:
  explicit RefreshScope(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
  ~RefreshScope() { flag_ = was_; }
  RefreshScope(const RefreshScope&) = delete;
  RefreshScope& operator=(const RefreshScope&) = delete;

 private:
  bool& flag_;
  bool was_;
};

}  // namespace

void TMainForm::RefreshDeviceList() {
  RefreshScope scope(refreshing_);
  Ui::TMainForm& u = *ui;
  const std::string userCapacity = TextOf(u.CapacityUserDefEdit);
  const DeviceScan scan = ScanDevices(pass_, eppDevice_, mix_, settings_,
                                      {.cloneProduct = u.cbCloneProduct->isChecked(), .userCapacity = userCapacity});

  u.ExecuteBtn->setEnabled(false);
  u.ProgressBar1->setValue(0);
  u.ProgressBar1->hide();
  u.CCLabel->hide();
  firmwareFileAccepted_ = 0;
  lastRefreshReady_ = false;
  deviceCount_ = scan.deviceCount;
  for (int slot = 0; slot < bridge::kPortCount; ++slot)
    SetNodeImage(slot, pass_.ports.records[static_cast<size_t>(slot)].present ? 1 : 0);

  if (scan.entryCount == 0) {
    u.lb_patent->hide();
    SetTextColor(u.SafeRmBtn, kGreen);
    u.SafeRmBtn->update();
    u.USB3Panel->hide();
    if (!Options().MPSafeRemove) u.StatusLabel->hide();
    PostPortUpdate();
    FormPaint();
    return;
  }

  ResetTextColor(u.SafeRmBtn);
  u.StatusLabel->hide();
  u.EEPROMType->setEnabled(false);
  int32_t wantedTypeItem = kWantedTypeItem;
  if (settings_.EnEPPTypeC && !scan.controlDeviceSeen) u.lb_patent->hide();
  PostPortUpdate();

  if (mix_.AnyQvs646) {
    u.EnableUSBFirst->hide();
    if (scan.otherCount > 0) {
      platform::MessageBox("Not Support interleave QV646 & Non-QV646 EEPROM Batch Operation!", "Message",
                           platform::kMbOk);
      u.GroupBox2->hide();
      u.Panel5->hide();
      u.EEPROMCheckBox->setChecked(false);
      u.EEPROMCheckBox->setEnabled(false);
      interleaveMode_ = kInterleaveMixed;
    } else {
      u.String3Edit->setEnabled(true);
      interleaveMode_ = kInterleaveOnlyQvs646;
    }
    mix_.Type3Allowed = true;
    u.EEPROMType->show();
    wantedTypeItem = kWantedQvs646TypeItem;
  } else if (scan.deviceCount == 0) {
    // Nothing usable: no start, by hand or by the timer.
    u.lb_patent->hide();
    mix_.AutoStartReady = false;
    FormPaint();
    return;
  } else {
    interleaveMode_ = kInterleaveNoQvs646;
    u.EEPROMType->show();
  }

  const bool standby = mix_.StandbyTimerSupported && settings_.StandbyTimer >= 0;
  u.TimerEdit->setVisible(standby);
  if (standby) SetText(u.TimerEdit, std::to_string(settings_.StandbyTimer));

  // The type list is built anew every time, so it always has its item
  // selected when the type handler runs.
  chipClassCode_ = ChipClassCode(mix_);
  const EepromTypeList list = BuildEepromTypeList(interleaveMode_, mix_.Type3Allowed, wantedTypeItem);
  u.EEPROMType->clear();
  for (std::string_view item : list.items) u.EEPROMType->addItem(FromStationText(item));
  u.EEPROMType->setCurrentIndex(list.selected);
  u.EEPROMType->setEnabled(mix_.EepromTypeSelectable);
  previousChipClassCode_ = chipClassCode_;
  EEPROMTypeChange();

  bool ready = true;
  const int32_t wantedCount = Options().MPDevCount;
  if (wantedCount != 0 && wantedCount != deviceCount_) {
    ready = false;
  } else if (!scan.capacityFits) {
    platform::ShowMessage("Check the Capacity check setting!!");
    ready = false;
  }
  ApplyFirmwareGroup(ready);
  ApplyUsb3Panel(scan.allSuperSpeed, scan.allSuperSpeedPlus);
  u.OddSizeEdit->setVisible(mix_.OddSizeSupported && settings_.ODDSize > 0);
  ApplyStringControls();

  if (Options().MPAutorun || settings_.EnBarcodeMode) {
    mix_.AutoStartReady = ready;
    u.ExecuteBtn->setEnabled(false);
  } else {
    mix_.AutoStartReady = false;
    u.ExecuteBtn->setEnabled(ready);
  }
  if (settings_.EnEPPTypeC && pass_.EppPowered && OwnEnabled(u.ExecuteBtn) && scan.anyChipType26)
    u.lb_patent->show();
  ApplyQvs87xControls(scan.anyQvs87x);
  FormPaint();
}

void TMainForm::ApplyFirmwareGroup(bool& ready) {
  Ui::TMainForm& u = *ui;
  // START as the firmware check boxes may give it back: every other start
  // condition of this refresh.
  lastRefreshReady_ = ready;
  if (!mix_.FirmwareUpdateAllowed) {
    u.GroupBox3->hide();
    u.FWUpdateCheckBox->setChecked(false);
    return;
  }
  if (CountChipModels(mix_.ChipTypeMask) > 1) {
    multipleChipModels_ = 1;
    ready = false;
    lastRefreshReady_ = false;
    u.FWUpdateCheckBox->setChecked(false);
    platform::MessageBox("Multiple devices must be of the same Chip model!", "Error", platform::kMbOk);
    return;
  }
  multipleChipModels_ = 0;
  u.GroupBox3->show();
  if (u.FWUpdateCheckBox->isChecked() || u.FWCheckBox->isChecked()) {
    u.LoadFWButton->setEnabled(true);
    u.FwFileNameEdit->setEnabled(true);
    u.GroupBox4->setVisible(mix_.AnyQvs646);
    const std::string name = TextOf(u.FwFileNameEdit);
    if (!name.empty()) {
      firmwareFileAccepted_ = bridge::CheckFirmwareFile(name.c_str(), pass_.FirstChipTypeRev, pass_.ports);
      if (!firmwareFileAccepted_) {
        ready = false;
        platform::ShowMessage("Firmware File not support all chips!");
      } else if (settings_.EnBarcodeMode) {
        FocusSerialEntry(true);
      }
    }
  } else {
    u.LoadFWButton->setEnabled(false);
    u.FwFileNameEdit->setEnabled(false);
    u.GroupBox4->hide();
  }
  if (u.EEPROMCheckBox->isChecked()) u.GroupBox4->setVisible(mix_.AnyQvs646);
  u.TimerEdit->setVisible((mix_.AnyQvs646 || mix_.StandbyTimerSupported) && settings_.StandbyTimer >= 0);
}

void TMainForm::ApplyUsb3Panel(bool allSuperSpeed, bool allSuperSpeedPlus) {
  Ui::TMainForm& u = *ui;
  const bool usb3 = mix_.Usb3Family;
  u.USB3Panel->setVisible(usb3);
  u.enU3CheckBox->setVisible(usb3);
  u.enU31Gen2CheckBox->setVisible(usb3);
  if (!usb3) return;
  if (FieldText(settings_.ProductRevsion).substr(0, 4) != "0000") u.RevisionEdit->show();
  if (allSuperSpeed) {
    u.USB3Panel->setText(allSuperSpeedPlus ? "USB 3.1 Gen 2" : "USB 3.1 Gen 1");
    SetTextColor(u.USB3Panel, kBlue);
  } else {
    u.USB3Panel->setText("USB 2.0");
    SetTextColor(u.USB3Panel, kRed);
  }
}

void TMainForm::ApplyStringControls() {
  Ui::TMainForm& u = *ui;
  if (mix_.HddStringMode) {
    u.StrA2DiskStrChk->setChecked(true);
    u.StrA2DiskStrChk->setEnabled(false);
    u.StrALabel->setText("   HDD.String");
    u.StringCEdit->show();
    u.StringBEdit->move(u.StringBEdit->x(), u.StringCEdit->y() + kStringBBelowStringCHdd);
  } else {
    u.StrA2DiskStrChk->setEnabled(true);
    u.StrALabel->setText("Manuf.String");
    u.StringCEdit->hide();
    u.StringBEdit->move(u.StringBEdit->x(), u.StringCEdit->y() + kStringBBelowStringC);
  }
  u.ManuProdSosctlchk->setVisible(mix_.Qvs87xPresent);
  u.InquirySosctlchk->setVisible(mix_.Qvs87xPresent);
  if (mix_.Qvs87xPresent) {
    ManuProdSosctlchkClick();
    InquirySosctlchkClick();
  }
}

void TMainForm::ApplyQvs87xControls(bool anyQvs87x) {
  Ui::TMainForm& u = *ui;
  for (QWidget* w : std::initializer_list<QWidget*>{
           u.PartitionCheckBox, u.FormatCheckBox, u.FmtTypeComboBox, u.FmtSecPerClusCbox, u.VolumeLabeledEdit,
           u.RWTestCheckBox, u.vfVolumnLabelEdit, u.vfVolLabelChk, u.vfHDDFWRevEdit, u.vfHDDFWRevChk,
           u.SWCopyChkBox, u.enFolderCPChk, u.bAdvCompareChk, u.SwImgPathEdit, u.DstISOEdit})
    w->setEnabled(!anyQvs87x);
  if (anyQvs87x) {
    u.CapacityUserDefEdit->setEnabled(false);
    u.CapChkCmbx->setEnabled(false);
  }
}

}  // namespace station
