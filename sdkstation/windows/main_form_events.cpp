// The main window's device notices and its rescan timer: a notice disables
// START and arms the rescan; the rescan lists the devices again, then
// focuses the bar-code entry, or START or Refresh, and in auto-run mode
// starts the run when the listing found every start condition met.
#include <QPushButton>

#include "platform/device_notifications.h"
#include "sdkstation/windows/main_form.h"
#include "station/windows/device_notices.h"
#include "station/windows/message_pump.h"
#include "ui_sdkmainform.h"

namespace sdkstation {

platform::WindowHandle TMainForm::Handle() const { return messages_->handle(); }

void TMainForm::RegisterDiskNotification() { DeviceNotifyHandle = station::RegisterDiskNotification(Handle()); }

bool TMainForm::Dispatch(const platform::WindowMessage& message) {
  switch (message.message) {
    case platform::kWmTimer: OnDeviceTimer(message.wParam); return true;
    case platform::kWmDeviceChange: OnDeviceChange(message.wParam, message.broadcast.get()); return true;
    default: return false;
  }
}

void TMainForm::OnDeviceChange(uintptr_t event, const platform::DeviceBroadcast* header) {
  station::OnDeviceNotice(event, header,
                          {.window = Handle(),
                           .rescanTimer = RescanTimer,
                           .removalActive = removalActive_,
                           .runActive = runActive_ || looping_,
                           .safeRemoveSetting = Options().MPSafeRemove != 0,
                           .resultWindow = passForm_,
                           .start = ui->ExecuteBtn});
}

void TMainForm::OnDeviceTimer(uintptr_t id) {
  if (id != RescanTimer) return;
  static_cast<void>(platform::KillTimer(Handle(), RescanTimer));
  // Due during a run or a removal it is dropped as their notices are: it
  // would list again under the workers.
  if (DeviceWorkRuns() || looping_) return;
  EnumUSBDevice();
  if (settings_.EnBarcodeMode) {
    FocusSerialEntry(true);
    return;
  }
  if (!ResultWindowShows()) FocusStartOrRefresh();
  // The listing leaves START disabled in auto-run mode; it starts when the
  // listing found every condition met, as in the first program.
  if (Options().MPAutorun && autoStartReady_) ExecuteBtnClick();
}

}  // namespace sdkstation
