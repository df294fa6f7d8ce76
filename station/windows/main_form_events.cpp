// The main window's own events: its create event, its message map, the
// debounce of device-change notices through RescanTimer, the Type-C
// reminder, and the port picked in the tree opening the detail window.
#include <QCoreApplication>
#include <QTreeWidget>

#include <cstdio>
#include <string>

#include "bridge/storage_device.h"
#include "platform/device_notifications.h"
#include "platform/file_version.h"
#include "platform/message_box.h"
#include "station/windows/clock_timer.h"
#include "station/windows/control_events.h"
#include "station/windows/detail_form.h"
#include "station/windows/device_notices.h"
#include "station/windows/main_form.h"
#include "station/windows/pass_form.h"
#include "ui_mainform.h"

namespace station {
namespace {

constexpr int kStringBBelowStringCTop = 15;
constexpr char kPellmarSuffix[] = " for Pellmar On-board Customers";

struct ProgramVersion {
  unsigned major = 0, minor = 0, release = 0, build = 0;
};

// The version block of the program's own file: zeros when it has none.
ProgramVersion ReadProgramVersion(const std::string& programFile) {
  ProgramVersion version;
  const uint32_t size = platform::GetFileVersionInfoSize(programFile.c_str());
  if (size == 0) return version;
  std::string block(size, '\0');
  const platform::FixedFileInfo* fixed = nullptr;
  uint32_t length = 0;
  if (!platform::GetFileVersionInfo(programFile.c_str(), size, block.data()) ||
      !platform::VerQueryValue(block.data(), "\\", &fixed, &length))
    return version;
  version.major = fixed->fileVersionMS >> 16;
  version.minor = fixed->fileVersionMS & 0xFFFF;
  version.release = fixed->fileVersionLS >> 16;
  version.build = fixed->fileVersionLS & 0xFFFF;
  return version;
}

}  // namespace

platform::WindowHandle TMainForm::Handle() const { return messages_->handle(); }

void TMainForm::RegisterDiskNotification() { DeviceNotifyHandle = station::RegisterDiskNotification(Handle()); }

void TMainForm::FormCreate() {
  RegisterDiskNotification();

  Ui::TMainForm& u = *ui;
  if (!mix_.HddStringMode) {
    u.StringBEdit->move(u.StringBEdit->x(), u.StringCEdit->y() + kStringBBelowStringCTop);
    u.StringCEdit->hide();
  }

  const ProgramVersion v = ReadProgramVersion(ToStationText(QCoreApplication::applicationFilePath()));
  char caption[96];
  std::snprintf(caption, sizeof caption, "Orvanta 4164x M.P. Tool v%u.%u.%u.%u", v.major, v.minor, v.release,
                v.build);
  // The customer's edition keeps its name after the version.
  std::string title = caption;
  if (Options().MPPellmarCustomer != 0) title += kPellmarSuffix;
  setWindowTitle(FromStationText(title));

  if (settings_.EnLoopDebug) {
    u.DebugPanel->show();
    u.cbEraseFlash->show();
  }
  // Notices and timers are the window's from here on; those that came
  // during the start-up's message boxes waited until every part of the
  // window they reach exists.
  messages_->Start();
}

bool TMainForm::Dispatch(const platform::WindowMessage& message) {
  switch (message.message) {
    case platform::kWmTimer: OnDeviceTimer(message.wParam); return true;
    case platform::kWmDeviceChange: OnDeviceChange(message.wParam, message.broadcast.get()); return true;
    case kWmPortUpdate: OnPortStatus(); return true;
    default: return false;
  }
}

void TMainForm::OnDeviceChange(uintptr_t event, const platform::DeviceBroadcast* header) {
  // Safe removal makes its own products leave; their notices are not changes
  // to rescan for.
  OnDeviceNotice(event, header,
                 {.window = Handle(),
                  .rescanTimer = RescanTimer,
                  .removalActive = RemovalActive(),
                  .runActive = RunActive(),
                  .safeRemoveSetting = Options().MPSafeRemove != 0,
                  .resultWindow = passForm_,
                  .start = ui->ExecuteBtn});
}

void TMainForm::OnDeviceTimer(uintptr_t id) {
  if (id != RescanTimer) return;
  // A tick inside a message box of a refresh would rescan under it and be
  // overwritten when the box closes: the timer stays armed and the rescan
  // comes at its first tick after the refresh.
  if (refreshing_) return;
  static_cast<void>(platform::KillTimer(messages_->handle(), RescanTimer));
  // Armed before a pass or a removal and due during it, the rescan is
  // dropped as their notices are: it would rebuild the port table under the
  // workers, and in auto-run start the same products again afterwards.
  if (DeviceWorkRuns()) return;
  RefreshDeviceList();
  if (settings_.EnBarcodeMode) {
    FocusSerialEntry(true);
    return;
  }
  if (!ResultWindowShows()) FocusStartOrRefresh();
  if (Options().MPAutorun && mix_.AutoStartReady) ExecuteBtnClick();
}

void TMainForm::TakeOwnDeviceNotices() { messages_->DispatchDue(); }

void TMainForm::Timer_EPPTimer() {
  if (settings_.EnEPPTypeC == 0 || pass_.EppPowered != 0) return;
  Timer_EPP->Stop();
  static_cast<void>(platform::MessageBox("Please plus Control EPP Device !!", "Error", platform::kMbOk));
  Timer_EPP->Start();
}

void TMainForm::TreeView1Click() {
  QTreeWidget* tree = ui->TreeView1;
  for (int i = 0; i < tree->topLevelItemCount(); ++i)
    if (tree->topLevelItem(i)->isSelected()) SelectedPort = i + 1;
}

void TMainForm::DblClickBtnClick() {
  const bool anyPresent = pass_.PresentDeviceCount.load() != 0;
  bridge::PortRecord* record = pass_.ports.slot(SelectedPort);
  if (anyPresent && record != nullptr && record->present) {
    // While workers own the records the letter found stays local.
    char letter = record->driveLetter;
    static_cast<void>(bridge::FindDriveLetter(bridge::DevicePathOf(*record).c_str(), &letter));
    if (!DeviceWorkRuns()) record->driveLetter = letter;
    if (ui->RDCheck->isChecked() && detailForm_) detailForm_->Open(letter);
    return;
  }
  if (anyPresent && SelectedPort == 0 && ui->RDCheck->isChecked())
    platform::ShowMessage("Please select one port to display by left port view first!!");
}

}  // namespace station
