// The main window of Kestrova: the settings controls, the port views and
// the buttons, built from resources/mainform.ui. It owns the station's state
// on the user-interface thread: the settings block, the pass state the
// workers share, the device mix of the last refresh, the current settings
// file and the day log. Its handlers carry the names of the window's events
// (ExecuteBtnClick, EEPROMTypeChange, ...); control_events.h binds them.
#pragma once

#include <QMainWindow>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/port_table.h"
#include "platform/event.h"
#include "platform/device_notifications.h"
#include "platform/file_dialog.h"
#include "platform/message_queue.h"
#include "platform/window_messages.h"
#include "station/day_log.h"
#include "station/device_mix.h"
#include "station/pass_state.h"
#include "station/production_pass.h"
#include "station/settings_block.h"
#include "station/settings_collection.h"
#include "station/settings_file.h"
#include "station/station_messages.h"
#include "station/windows/wait_panel.h"
#include "station/windows/pass_form.h"
#include "station/windows/port_views.h"
#include "station/windows/program_entry.h"

class QCheckBox;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QSocketNotifier;
class QTreeWidgetItem;

namespace Ui {
class TMainForm;
}

namespace station {

class ClockTimer;
class TDetailForm;
class TPassForm;
class WindowMessagePump;

class TMainForm : public QMainWindow, public ResultWindowOwner {
  Q_OBJECT

 public:
  // The start-up of the station: locks, OS choices, the settings file and
  // its control effects, the first device scan, the progress bar, the pass
  // event, the log folder and the day log, the RD Version lock. Throws
  // std::runtime_error("Cannot create log directory.") when the log folder
  // cannot be made.
  explicit TMainForm(QWidget* owner = nullptr);
  ~TMainForm() override;

  // The result window, created after this one; several focus rules skip
  // their focus change while it shows.
  void SetPassForm(TPassForm* form) { passForm_ = form; }
  // The detail window, created between this one and the result window.
  using DetailForm = TDetailForm;
  void SetDetailForm(TDetailForm* form) { detailForm_ = form; }
  bool ResultWindowShows() const;
  void FocusStartOrRefresh() override;

  // ---- Device list
  void RefreshDeviceList();
  // Queues WM_PORT_UPDATE to this window; any thread may call it (the
  // workers do, through their jobs). Posts before the rows are drawn again
  // make one rebuild.
  void PostPortUpdate();

  // ---- START and the run loop
  void ExecuteBtnClick();
  void BtnStopTestClick();
  char String3EditKeyPress(char key);
  // One production pass, as START runs it.
  void RunProductionPass();

  // ---- Port rows and drawing
  void OnPortStatus();
  void ShowProgress(int32_t percent);
  // Colours a result cell by its text.
  void ListView1CustomDrawSubItem(QTreeWidgetItem* item, int column);
  // Places the progress bar in the status bar's panel 1.
  void StatusBar1DrawPanel(const QRect& panel);

  // ---- Safe removal and shut-down
  void SafeRmBtnClick();
  // The window's key preview: every key typed in it comes here first.
  void FormKeyPress(char key);
  void FormClose();
  void CloseBtnClick();

  // ---- Settings collection and files
  // Copies the controls into the settings block. A VID, PID or ODD size that
  // cannot be converted stops it after a message naming the field; the
  // caller must not go on.
  [[nodiscard]] CollectError CollectSettingsFromForm();
  void INILoadBtnClick();
  void INISaveBtnClick();
  // Loads a settings file and applies its control effects in their order.
  LoadResult LoadSettingsFile(const std::string& path);

  // ---- Option and edit handlers
  void RefreshBtnClick();
  void EEPROM_Update_Checked();
  void Format_Checked();
  void FFsFmtChange();
  void LoadFWButtonClick();
  void FWUpdateCheckBoxClick(QCheckBox* sender);
  void Q646FlashTypeChange();
  void ResetYieldBtnClick();
  char StringAEditKeyPress(char key);
  void FormPaint();
  void CapChkCmbxChange();
  void TimerEditChange();
  char TimerEditKeyPress(char key);
  void FmtSecPerClusCboxChange();
  void EEPROMVerifyBoxClick();
  void StringCEditChange();
  void cbCloneProductClick();
  void InquirySosctlchkClick();
  void ManuProdSosctlchkClick();
  void FocusSerialEntry(bool clear);
  char CapacityUserDefEditKeyPress(char key);
  void CapacityUserDefEditChange();
  void enU3CheckBoxClick(QCheckBox* sender);

  // ---- RD Version lock
  void RDCheckClick();

  // ---- Window events
  // The create event, after the constructor: device notices, the string
  // edits' places, the caption with the program's version, the debug panel.
  void FormCreate();
  // Device notices of the disk interface class reach this window from now
  // on; DeviceNotifyHandle keeps the registration (0 when refused).
  void RegisterDiskNotification();
  // The message map: WM_TIMER, WM_DEVICECHANGE and WM_PORT_UPDATE; false
  // for any other message.
  bool Dispatch(const platform::WindowMessage& message);
  void OnDeviceChange(uintptr_t event, const platform::DeviceBroadcast* header);
  void OnDeviceTimer(uintptr_t id);
  void Timer_EPPTimer();
  void TreeView1Click();
  void DblClickBtnClick();
  // Takes the device notices already queued, while a pass or a removal
  // still counts as running: those of its own device work, which the wait
  // for its threads may have left behind, change nothing.
  void TakeOwnDeviceNotices();
  // The window's handle for notices and timers.
  platform::WindowHandle Handle() const;
  // A pass or a safe removal owns the devices: the window sends none of
  // its own commands meanwhile.
  bool DeviceWorkRuns() const { return RunActive() || RemovalActive(); }
  bool RemovalActive() const { return removalActive_; }

  // The timer that debounces device notices (fires once, then is killed).
  static constexpr uintptr_t RescanTimer = 17;
  // 1-based index of the port node picked in the tree; 0 until the first.
  int32_t SelectedPort = 0;
  platform::DeviceNotifyHandle DeviceNotifyHandle = 0;

  // ---- Configuration block editing
  void EEPROMTypeChange();
  void StringAEditChange(QLineEdit* sender);
  void VenderIDEditChange(QLineEdit* sender);
  // `operatorUnchecked`: the box's state has just changed to unchecked (by
  // the operator or a load), not a re-run of the handler by the type change.
  void StrA2DiskStrChkClick(bool operatorUnchecked = false);
  void StrA2SNChkClick();
  void StrBFromDiskSNChkClick();
  // The edit's text must be a serial now: the serial edit, or string A
  // while it is mapped to the serial (not in the QVS646 family's layouts).
  bool SerialChecked(const QLineEdit* edit) const;
  // A paste into the edit that is no serial where one must be: refused
  // whole, with the serial message.
  bool SerialPasteAllowed(const QLineEdit* edit, std::string_view text);

  // ---- State
  SettingsBlock& Settings() { return settings_; }
  StationOptions& Options() { return pass_.options; }
  PassState& Pass() { return pass_; }
  const DeviceMix& Mix() const { return mix_; }
  const std::string& IniPath() const { return iniPath_; }
  const std::string& DayLogPath() const { return dayLog_.path; }
  int32_t InterleaveMode() const { return interleaveMode_; }
  int32_t EepromLayoutIndex() const { return eepromLayoutIndex_; }
  int32_t DeviceCount() const { return deviceCount_; }
  int32_t FirmwareFileAccepted() const { return firmwareFileAccepted_; }
  int32_t MultipleChipModels() const { return multipleChipModels_; }
  uint8_t Q646FlashChoice() const { return q646FlashChoice_; }
  bool RunActive() const { return runActive_ != 0; }
  // A pass waits for its workers, or a safe removal for its threads: the
  // window's events run meanwhile, but nothing that would rescan, start,
  // load or save settings, or close.
  bool Waiting() const { return waiting_; }
  const PassMembers& PassRecords() const { return passMembers_; }

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void BindEvents();
  void ApplyLoadEffects(const LoadResult& result);
  void SetUpStatusBar();
  void ChooseDayLog();
  void ShowYield();
  void WaitWhileActive(const std::function<bool()>& done);
  void RunTypeCRound();
  void WriteTypeCBlock(bool passesRan);
  void EndRun();
  // EndRun for a run an exception left.
  void AbandonRun() noexcept;
  void ShowPassResult(bool allPass);
  // The safe removal of every present port (the button's and the pass's).
  void RemoveAllDevices();
  void CloseWhenIdle();
  void UnlockSettings();
  void LockSettings();
  // The firmware file check of the firmware handlers: with devices present
  // and a file name, refuses a file that does not fit every chip.
  void CheckChosenFirmwareFile();
  // One step of the refresh each.
  void ApplyFirmwareGroup(bool& ready);
  void ApplyUsb3Panel(bool allSuperSpeed, bool allSuperSpeedPlus);
  void ApplyStringControls();
  void ApplyQvs87xControls(bool anyQvs87x);
  void SetNodeImage(int slot, int image);
  void WriteStringA(std::string_view text, int32_t maxChars);

  class PassView;

  // Posted messages for this window (WM_PORT_UPDATE, the ends of threads,
  // the wait animation's frames), dispatched when its descriptor wakes the
  // event loop.
  std::shared_ptr<platform::MessageQueue> queue_;
  QSocketNotifier* queueNotifier_ = nullptr;
  std::unique_ptr<Ui::TMainForm> ui;
  // The window's message port: device notices and RescanTimer.
  WindowMessagePump* messages_ = nullptr;
  ClockTimer* Timer_EPP = nullptr;
  TDetailForm* detailForm_ = nullptr;
  QLabel* statusPanel2_ = nullptr;  // the status bar's percentage

  SettingsBlock settings_ = ZeroedSettingsBlock();
  PassState pass_;
  DeviceMix mix_;
  // The walk's record of the Type-C power switch, kept between walks.
  bridge::EppDeviceRecord eppDevice_;
  std::string iniPath_;
  // Keys of the current file the load could not read: saved as they were.
  std::vector<UnreadValue> unreadValues_;
  TPassForm* passForm_ = nullptr;

  // Operating-system choices.
  int win2000_ = 0;
  int winVista_ = 0;

  int32_t interleaveMode_ = kInterleaveNoQvs646;
  int32_t chipClassCode_ = 0;
  int32_t previousChipClassCode_ = 0;
  int32_t eepromLayoutIndex_ = 0;
  int32_t firmwareFileAccepted_ = 0;
  int32_t multipleChipModels_ = 0;
  int32_t deviceCount_ = 0;
  // Whether the last refresh's start conditions held, firmware aside: the
  // firmware handlers may enable START only then.
  bool lastRefreshReady_ = false;
  bool refreshing_ = false;
  uint8_t q646FlashChoice_ = 255;
  int32_t passProgress_ = 0;
  int32_t runActive_ = 0;
  int32_t stopRequest_ = 0;
  int32_t eppProgress_ = 0;  // of the current Type-C round
  bool waiting_ = false;
  bool removalActive_ = false;
  bool closePending_ = false;

  std::unique_ptr<platform::ManualResetEvent> PassEndEvent;
  DayLog dayLog_;
  PassMembers passMembers_;
  std::unique_ptr<WaitPanel> waitPanel_;
  QWidget* statusPanel1_ = nullptr;  // the progress bar's place
  QLabel* statusPanel0_ = nullptr;

  platform::FileDialogRequest OpenDialog1;
  platform::FileDialogRequest SaveDialog1;
  platform::FileDialogRequest OpenDialog2;
};

}  // namespace station
