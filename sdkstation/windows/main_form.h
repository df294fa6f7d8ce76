// The main window of KestrovaSdk, built from resources/sdkmainform.ui. It
// owns what lives as long as the program: the seven locks, the device-list
// buffers and the binding of the device library, the settings block and
// options, the port table, the pass event, the day log and the yield
// counters. Its handlers carry the names of the window's events; the
// first program's control_events.h binds them.
#pragma once

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_notifications.h"
#include "platform/event.h"
#include "platform/file_dialog.h"
#include "platform/message_queue.h"
#include "platform/module.h"
#include "platform/window_messages.h"
#include "sdkstation/device_sdk.h"
#include "sdkstation/sdk_pass_state.h"
#include "sdkstation/sdk_production_pass.h"
#include "sdkstation/sdk_settings_file.h"
#include "sdkstation/sdk_worker_job.h"
#include "station/pass_state.h"
#include "station/day_log.h"
#include "station/windows/pass_form.h"
#include "station/windows/wait_panel.h"

class QCheckBox;
class QCloseEvent;
class QSocketNotifier;
class QLabel;
class QLineEdit;

namespace Ui {
class SdkMainForm;
}

namespace station {
class WindowMessagePump;
}

namespace sdkstation {

class TDetailForm;

// The message of a binding that failed, on standard output.
inline constexpr char kBindingFailedMessage[] = "Initalize the API entries fail!";

class TMainForm : public QMainWindow, public station::ResultWindowOwner {
  Q_OBJECT

 public:
  // The start-up: locks, device-list buffers, the binding of the device
  // library, the exFAT choice, the settings (which hand the time-out to the
  // library), the first device list, the progress bar, the pass event, the
  // log folder and the day log, the RD Version lock, then the create
  // event's caption and panels. A binding that fails writes
  // kBindingFailedMessage to standard output and stops there (Started()
  // is false): no library call, no settings read. A settings load that
  // cannot make the log folder shows "Cannot create log directory." and
  // stops there as well: no device listed, nothing saved at exit. Throws
  // std::runtime_error("Cannot create log directory.") when the folder is
  // gone again when the day log is chosen.
  explicit TMainForm(QWidget* owner = nullptr);
  // Saves the settings (to the current file when it exists and may be
  // written, and as Kestrova.ini in the platform's Windows folder, never the
  // program folder, when the current file has another name) and the yield
  // counters, each whatever became of the others, then releases the
  // library. After a start-up that stopped early nothing is saved.
  ~TMainForm() override;

  bool Started() const { return started_; }

  // The result window, created after this one.
  void SetPassForm(station::TPassForm* form) { passForm_ = form; }
  // The detail window, created between this one and the result window.
  using DetailForm = TDetailForm;
  void SetDetailForm(TDetailForm* form) { detailForm_ = form; }
  bool ResultWindowShows() const;
  void FocusStartOrRefresh() override;
  // The create event: the caption with the program's version, the debug
  // panel and the erase-only box as the settings say.
  void FormCreate();

  // ---- Device list
  void EnumUSBDevice();
  // -1 judges whether START may be pressed; any other switch enables (not 0)
  // or disables START.
  void CheckDeviceMix(int startSwitch);
  bool AnyQVS87xDevice() const;
  bool ChipTypesDiffer() const;
  // Queues WM_PORT_UPDATE to this window.
  void PostPortUpdate();

  // ---- Settings
  // Copies the controls into the settings block and hands the firmware file
  // and the CLONE choice to the library. A vendor or product ID that is no
  // hexadecimal number stops it after the conversion message; false then,
  // and the caller must not go on.
  [[nodiscard]] bool CollectSettingsFromForm();
  void INILoadBtnClick();
  void INISaveBtnClick();
  // Loads a settings file and applies its control effects in their order.
  SdkLoadResult LoadSettingsFile(const std::string& path);

  // ---- Identity
  // Hands every attached device its identity from the controls; what each
  // device was given stays in Pass().
  void ApplyIdentitySettings();
  // What START and the test loop do first: lock the settings controls,
  // collect, empty the library's setting table and, with the identity
  // update checked, hand the identities over. After a conversion error the
  // controls are unlocked again and false is returned: no run.
  [[nodiscard]] bool PrepareRun();

  // ---- Runs
  // START: one pass with the controls locked, then the serial advance.
  void ExecuteBtnClick();
  // "Start Test": passes as often as lbTestLoopCnt says, until stopped.
  void btnStartTest2Click();
  void BtnStopTestClick() { stopRequest_ = true; }
  // Removes every listed device safely, one thread each, then lists again;
  // refused while a run or another removal is under way.
  void SafeRmBtnClick();
  // The window's key preview: every key typed in it comes here first.
  void FormKeyPress(char key);
  // Bar-code mode: a scan ended by Enter starts the run (0 drops the key).
  char SerialNumberEditKeyPress(char key);
  void FormClose();
  // Closes the main window, as its own close does (after a run, if one runs).
  void CloseBtnClick();
  // 1 when the run may start, else 0 after its message.
  [[nodiscard]] int CheckRunSettings();
  // One pass over the listed devices. `handed`: the devices it gives serial
  // numbers to; the number the next run starts from is kept in the settings
  // file before any of them gets one.
  SdkPassSummary RunProductionPass(int handed = 0);

  // ---- Device notices
  // The message map of the window's message port: WM_TIMER and
  // WM_DEVICECHANGE; false for any other message.
  bool Dispatch(const platform::WindowMessage& message);
  void RegisterDiskNotification();
  void OnDeviceChange(uintptr_t event, const platform::DeviceBroadcast* header);
  void OnDeviceTimer(uintptr_t id);
  platform::WindowHandle Handle() const;
  // The timer that debounces device notices (fires once, then is killed).
  static constexpr uintptr_t RescanTimer = 17;
  platform::DeviceNotifyHandle DeviceNotifyHandle = 0;

  // ---- Port views and the detail window
  // WM_PORT_UPDATE: every final result into the yield counters at once; the
  // rows are rebuilt once per turn of the event loop.
  void OnPortStatus();
  void ResetYieldBtnClick();
  // How often the rows were rebuilt.
  int PortRowRedraws() const { return portRowRedraws_; }
  void TreeView1Click();
  // Fills the detail window for the selected port and shows it.
  void DblClickBtnClick();
  // 1-based position of the port node picked in the tree; 0 until the first.
  int32_t SelectedPort = 0;

  // ---- Handlers
  void RefreshBtnClick();
  void RDCheckClick();
  void LockControls(bool enable);
  void UpdateStringOptions();
  void StrA2DiskStrChkClick();
  void FocusSerialEntry(bool clear);
  void InquirySosctlchkClick();
  void ManuProdSosctlchkClick();
  void Format_Checked();
  void PartitionCheckBoxClick();
  void EEPROM_Update_Checked();
  void EEPROMVerifyBoxClick();
  void FWUpdateCheckBoxClick(QCheckBox* sender);
  void enU3CheckBoxClick(QCheckBox* sender);
  void StrBFromDiskSNChkClick();
  void StringAEditChange(QLineEdit* sender);
  void VenderIDEditChange(QLineEdit* sender);
  void StringCEditChange();
  void CapChkCmbxChange();
  void CapacityUserDefEditChange();
  void TimerEditChange();
  // Key filters: the typed key, changed, or 0 to drop it.
  char StringAEditKeyPress(char key);
  char TimerEditKeyPress(char key);
  char CapacityUserDefEditKeyPress(char key);
  void FwFileNameEditChange();
  // The firmware file chosen in OpenDialog2, then the start check again.
  void LoadFWButtonClick();
  // Runs when the window becomes active: the panels drawn anew and the
  // focus where the next action is.
  void FormPaint();
  void FFsFmtChange();
  void FmtSecPerClusCboxChange();

  // ---- State
  SdkSettingsBlock& Settings() { return settings_; }
  StationOptions& Options() { return pass_.options; }
  SdkPassState& Pass() { return pass_; }
  SdkLocks& Locks() { return *locks_; }
  const DeviceList& Devices() const { return *deviceList_; }
  int32_t DeviceCount() const { return deviceCount_; }
  const std::string& IniPath() const { return iniPath_; }
  const std::string& DayLogPath() const { return dayLogPath_; }
  bool AutoStartReady() const { return autoStartReady_; }
  bool RunActive() const { return runActive_; }
  void SetRunActive(bool active) { runActive_ = active; }
  bool RemovalActive() const { return removalActive_; }
  // A pass or a safe removal owns the devices: the window sends none of its
  // own device commands meanwhile.
  bool DeviceWorkRuns() const { return runActive_ || removalActive_; }
  bool Looping() const { return looping_; }

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  class PassView;
  // Ends a run that an exception leaves, once no worker runs any more.
  void AbandonRun() noexcept;
  void BindEvents();
  void RedrawPortRows();
  void ShowYield();
  // The safe removal of the devices of `devicePaths`, each by its own
  // thread (the button's and the pass's).
  void RemoveAllDevices(const std::vector<std::string>& devicePaths);
  // A close that waited for a run or a removal comes now.
  void CloseWhenIdle();
  void ShowProgress(int32_t percent);
  void WaitWhileActive(const std::function<bool()>& done);
  void ShowPassResult(bool allPass);
  void AfterPass(bool failed);
  void AdvanceSerial(int devices);
  void ApplyLoadEffects(const SdkLoadResult& result);
  void ChooseDayLog();
  void ShowUsbSpeed(int32_t lowestSpeed);
  void ApplyQvs87xControls(bool anyQvs87x);
  void LockSettings();
  void UnlockSettings();
  void SaveAtExit();

  std::unique_ptr<Ui::SdkMainForm> ui;
  // The window's message port: device notices and RescanTimer.
  station::WindowMessagePump* messages_ = nullptr;
  QLabel* statusPanel2_ = nullptr;  // the status bar's percentage

  std::optional<SdkLocks> locks_;
  std::unique_ptr<DeviceList> deviceList_;
  platform::Module module_ = nullptr;
  bool started_ = false;  // bound, and the settings were read
  SdkSettingsBlock settings_ = ZeroedSdkSettingsBlock();
  SdkPassState pass_;
  int32_t deviceCount_ = 0;
  // FreeSpace was 0 in the file and a listing took it from a device: it is
  // used, but the file keeps the 0.
  bool freeSpaceLearned_ = false;
  // Values of the last load that were no number: the saves write them back.
  std::vector<UnreadValue> unreadValues_;
  bool autoStartReady_ = false;
  bool runActive_ = false;
  bool removalActive_ = false;
  bool closePending_ = false;
  bool looping_ = false;  // "Start Test" runs its passes
  bool redrawPending_ = false;
  int portRowRedraws_ = 0;
  std::string iniPath_;
  station::TPassForm* passForm_ = nullptr;
  TDetailForm* detailForm_ = nullptr;

  int32_t progress_ = 0;
  // Workers post here; the queue's descriptor wakes the event loop.
  std::shared_ptr<platform::MessageQueue> queue_ = std::make_shared<platform::MessageQueue>();
  QSocketNotifier* queueNotifier_ = nullptr;
  // Its thread posts to the queue: it ends before the queue closes.
  std::unique_ptr<station::WaitPanel> waitPanel_;
  SdkRun run_;
  station::PatternPages patterns_;
  std::array<platform::Handle, kSdkPortCount> threads_{};
  bool stopRequest_ = false;
  std::unique_ptr<platform::ManualResetEvent> passEvent_;
  int64_t logRollOverSize_ = station::kDayLogRollOverSize;
  station::DayLogName dayLogName_;
  std::string dayLogPath_;
  int dayLogNumber_ = 0;

  platform::FileDialogRequest OpenDialog1;
  platform::FileDialogRequest SaveDialog1;
  platform::FileDialogRequest OpenDialog2;
};

}  // namespace sdkstation
