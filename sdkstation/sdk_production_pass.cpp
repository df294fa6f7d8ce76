#include "sdkstation/sdk_production_pass.h"

#include <algorithm>
#include <memory>

#include "bridge/firmware_file_check.h"
#include "bridge/port_table.h"
#include "disk/folder_compare.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/program_folder.h"
#include "platform/threads.h"
#include "sdkstation/device_serials.h"
#include "sdkstation/sdk_settings_file.h"
#include "sdkstation/sdk_port_worker.h"
#include "station/serial_numbers.h"
#include "station/software_copy.h"

namespace sdkstation {
namespace {

constexpr char kWarningCaption[] = "Warning";
constexpr char kErrorCaption[] = "Error";

class Pass {
 public:
  Pass(SdkStationPass& station, SdkPassHost& host)
      : s_(station), host_(host), settings_(station.settings), count_(ClampDeviceCount(station.deviceCount)) {}

  SdkPassSummary Run();

 private:
  SdkPortRecord& Record(int i) { return s_.pass.ports[static_cast<size_t>(i)]; }
  bool PrepareSoftwareImage();
  int FirstDeviceBeyondMaxSerial() const;
  bool StartWorker(int i, const SdkPassControls& controls);
  bool KeepYield();
  bool AnyWorkerActive() const;
  void CloseWorkers();
  void ShowUfsNotices();

  SdkStationPass& s_;
  SdkPassHost& host_;
  SdkSettingsBlock& settings_;
  const int count_;
  SdkPassSummary summary_;
};

// Steps 4-5. False when the image path does not fit its field.
bool Pass::PrepareSoftwareImage() {
  const SdkPassControls controls = host_.Controls();
  if (settings_.EnSWCopy) {
    const std::string source = station::SoftwareImageSource(controls.softwareImagePath);
    if (source.size() >= sizeof settings_.SwImgPath) {
      platform::ShowMessage(kSoftwareImagePathInvalid);
      return false;
    }
    SetFieldText(settings_.SwImgPath, source);
  }
  if (settings_.EnFolderCompare) {
    // The tree the workers compare against: the image folder, not the edit's text.
    const std::string source =
        station::CompareSource(settings_.EnSWCopy ? std::string(FieldText(settings_.SwImgPath))
                                                  : station::SoftwareImageSource(controls.softwareImagePath));
    disk::FolderCounts counts;
    (void)disk::CompareFolderTree(source.c_str(), "", 0, 0, counts);  // counts what it met
    settings_.FolderCount = counts.folders;
    settings_.FileCount = counts.files;
  }
  return true;
}

// The first device whose own serial number would pass the maximum, or the
// device count.
int Pass::FirstDeviceBeyondMaxSerial() const {
  if (!settings_.EnEEPROMUpdate) return count_;
  const bool advances = settings_.String3Inc != 0;
  const std::string first(FieldText(settings_.String3));
  const std::string max(FieldText(settings_.StringMaxSn));
  for (int i = 0; i < count_; ++i) {
    const std::string serial = AdvanceSerialNumber(first, i, advances);
    if (settings_.CheckMaxSn && station::CompareSerial(serial, max) > 0) return i;
    // Past the last serial the counter would wrap onto numbers given before.
    if (advances && station::IsLastHexSerial(serial)) return i;
  }
  return count_;
}

bool Pass::StartWorker(int i, const SdkPassControls& controls) {
  auto job = std::make_unique<SdkWorkerJob>();
  job->run = &s_.run;
  job->postPortUpdate = s_.postPortUpdate;
  job->port = i;
  job->folderCompareUsable = controls.folderCompareUsable;
  job->settings = settings_;
  // The job goes with the thread; a thread that cannot start frees it here.
  auto held = std::make_shared<std::unique_ptr<SdkWorkerJob>>(std::move(job));
  const platform::Handle thread = platform::CreateThread([held] { return PortWorkerThread(std::move(*held)); },
                                                         s_.postPortUpdate);
  if (thread == platform::kInvalidHandle) {
    platform::DebugTrace("RD Debug: worker %d cannot start (error %u)", i, platform::GetLastError());
    return false;
  }
  s_.threads[static_cast<size_t>(i)] = thread;
  (void)platform::SetThreadPriority(thread, platform::kThreadPriorityTimeCritical);  // where allowed
  return true;
}

bool Pass::AnyWorkerActive() const {
  for (const platform::Handle thread : s_.threads) {
    if (thread == platform::kInvalidHandle) continue;
    uint32_t code = 0;
    // A failing query counts as ended.
    if (platform::GetExitCodeThread(thread, &code) && code == platform::kStillActive) return true;
  }
  return false;
}

void Pass::CloseWorkers() {
  for (platform::Handle& thread : s_.threads) {
    if (thread != platform::kInvalidHandle) (void)platform::CloseHandle(thread);
    thread = platform::kInvalidHandle;
  }
}

// The yield counted so far reaches its file; false (after the message)
// when the file cannot take it, and the next pass tries again first.
bool Pass::KeepYield() {
  s_.pass.yieldUnkept = !station::KeepYieldCounters(settings_.TotalTestCount, settings_.NumberOfPass);
  if (s_.pass.yieldUnkept) summary_.kept = false;
  return !s_.pass.yieldUnkept;
}

void Pass::ShowUfsNotices() {
  const std::string protectedPorts =
      UfsNotice(s_.pass.ports, count_, &SdkPortRecord::ufsWriteProtect, kUfsWriteProtectNotice);
  if (!protectedPorts.empty()) (void)platform::MessageBox(protectedPorts.c_str(), kWarningCaption, platform::kMbOk);
  const std::string enabledPorts = UfsNotice(s_.pass.ports, count_, &SdkPortRecord::ufsEnabled, kUfsDisabledNotice);
  if (!enabledPorts.empty()) (void)platform::MessageBox(enabledPorts.c_str(), kWarningCaption, platform::kMbOk);
}

SdkPassSummary Pass::Run() {
  s_.run.meeting.Reset(0);
  // No pass starts before the yield of the last one is kept.
  if (s_.pass.yieldUnkept && !KeepYield()) {
    summary_.refused = true;
    return summary_;
  }
  // The rows go on from the yield count the pass starts with, or after the
  // last row written when a device that never ran had a row but no count.
  const int32_t firstLogNumber = std::max(settings_.TotalTestCount, s_.pass.nextLogNumber);
  host_.BeginWait(count_ > 0);
  // With nothing attached the pass still ends as every pass does: its event
  // set, the log opened (no row), the result shown.
  if (count_ > 0) s_.passEvent.Reset();
  if (settings_.EnRWTest && !s_.patterns.loaded) {
    const std::string file(FieldText(settings_.WriteFileName));
    for (size_t page = 0; page < s_.patterns.pages.size(); ++page)
      (void)bridge::ReadHexDataPage(file.c_str(), s_.patterns.pages[page].data(),
                                    static_cast<unsigned>(page));  // a short file leaves zeros
    s_.patterns.loaded = true;
  }
  s_.run.pass = &s_.pass;
  s_.run.locks = &s_.locks;
  s_.run.pattern = s_.patterns.pages[0].data();

  // Every record starts the pass without last pass's outcome, so a device
  // that gets no worker can never show a pass.
  for (int i = 0; i < count_; ++i) {
    Record(i).ClearStatuses();
    Record(i).finalResult = 0;
  }
  if (!PrepareSoftwareImage()) {
    s_.passEvent.Set();
    host_.EndWait();
    return summary_;
  }
  const SdkPassControls controls = host_.Controls();
  const int startable = FirstDeviceBeyondMaxSerial();
  // The number the next run starts from is kept before any device holds
  // one: after a crash no later session gives these numbers again.
  if (!s_.nextSerial.empty() && !StoreIssuedSerial(s_.iniPath, s_.nextSerial, settings_, s_.pass.options)) {
    station::ShowUnwritable(station::kSerialNotKept, platform::ResolveInProgramFolder(s_.iniPath));
    summary_.refused = true;
    summary_.kept = false;
    s_.passEvent.Set();
    host_.EndWait();
    return summary_;
  }
  s_.run.meeting.Reset(startable);
  for (int i = 0; i < startable; ++i) {
    if (StartWorker(i, controls)) {
      ++summary_.started;
    } else {
      Record(i).result = bridge::kStepFail;
      Record(i).finalResult = bridge::kStepFail;
      s_.run.meeting.workers.fetch_sub(1);  // nobody waits for a worker that never ran
      if (s_.postPortUpdate) s_.postPortUpdate();
    }
  }
  if (startable < count_) {
    (void)platform::MessageBox(kMaxSerialReached, kErrorCaption, platform::kMbOk | platform::kMbIconError);
    // Its row shows the stop; the yield counts only products that ran.
    Record(startable).identityStatus = bridge::kStepFail;
    Record(startable).result = bridge::kStepFail;
    if (s_.postPortUpdate) s_.postPortUpdate();
  }

  host_.WaitUntil([this] { return !AnyWorkerActive(); });
  CloseWorkers();
  s_.passEvent.Set();
  host_.EndWait();
  (void)KeepYield();  // a failure was shown; the rows still go to the log

  summary_.allPass = true;
  for (int i = 0; i < count_; ++i) summary_.allPass = summary_.allPass && Record(i).result == bridge::kStepPass;
  ShowUfsNotices();
  if (!settings_.EraseFlashForDebug && !settings_.EraseFlashOnly) {
    summary_.logged =
        WriteResultLog(s_.dayLog, s_.pass.ports, count_, firstLogNumber, settings_, s_.pass.options, controls.log);
    s_.pass.nextLogNumber = firstLogNumber + count_;  // also past rows kept before a failing one
    // A row that could not be written is reported as a log that cannot be
    // opened, and a pass that went unrecorded is no pass.
    if (!summary_.logged) {
      (void)platform::MessageBox(kLogOpenFailed, kErrorCaption, platform::kMbOk | platform::kMbIconError);
      summary_.allPass = false;
    }
  }
  host_.ShowResult(summary_.allPass);
  if (s_.pass.options.MPSafeRemove) host_.SafeRemoveAll(DevicePaths(s_.pass.ports, count_));
  return summary_;
}

}  // namespace

std::string UfsNotice(const SdkPortTable& ports, int count, SharedWord<int32_t> SdkPortRecord::*flag,
                      const char* text) {
  std::string notice = "Port:";
  bool any = false;
  for (int i = 0; i < ClampDeviceCount(count); ++i) {
    const SdkPortRecord& record = ports[static_cast<size_t>(i)];
    if ((record.*flag).load() == 0) continue;
    notice += std::to_string(record.hubPort) + " ";
    any = true;
  }
  return any ? notice + text : std::string();
}

SdkPassSummary RunProductionPass(SdkStationPass& station, SdkPassHost& host) { return Pass(station, host).Run(); }

}  // namespace sdkstation
