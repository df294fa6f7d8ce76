#include "station/production_pass.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "bridge/block_commands.h"
#include "bridge/chip_identification.h"
#include "bridge/device_queries.h"
#include "bridge/firmware_file_check.h"
#include "bridge/firmware_verification.h"
#include "bridge/flash_detection.h"
#include "disk/device_lock.h"
#include "disk/folder_compare.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/program_folder.h"
#include "platform/threads.h"
#include "station/bridge_probes.h"
#include "station/device_enumeration.h"
#include "station/firmware_file_load.h"
#include "station/port_rows.h"
#include "station/port_worker.h"
#include "station/serial_numbers.h"
#include "station/settings_file.h"
#include "station/software_copy.h"
#include "station/station_messages.h"

namespace station {
namespace {

constexpr unsigned kEppChipType = 6;
constexpr unsigned kUsb3EnableChipType = 25;

class Pass {
 public:
  Pass(StationPass& station, PassHost& host)
      : s_(station), host_(host), settings_(station.settings), options_(station.pass.options) {}
  PassSummary Run();

 private:
  bridge::PortRecord& Record(int slot) { return s_.pass.ports.records[static_cast<size_t>(slot)]; }
  bool TypeC() const { return settings_.EnEPPTypeC != 0; }
  void Post() { s_.queue->Post(kWmPortUpdate); }

  PassSummary RunSteps();
  int FindPresentPorts();
  bool LoadFirmware();
  void Abort();
  void PrepareSoftwareImage();
  bool StartWorkers();
  std::unique_ptr<WorkerJob> MakeJob(int slot);
  bool Launch(int slot, std::unique_ptr<WorkerJob> job);
  bool KeepYield();
  void EndWorkers();
  void WriteRows();

  StationPass& s_;
  PassHost& host_;
  SettingsBlock& settings_;
  StationOptions& options_;
  PassControls controls_;
  PassSummary summary_;
  int32_t firstRowNumber_ = 0;
};

// Steps 1-3: the ports of this pass and their facts, by the refresh's rule
// of what is present.
int Pass::FindPresentPorts() {
  PassState& p = s_.pass;
  const int entries = EnumerateDevices(options_.SupportODD, p.ports, p.storageEntries.data(), &p.storageEntryCount,
                                       {.EnEPPTypeC = settings_.EnEPPTypeC}, &s_.eppDevice);
  if (entries == 0) return 0;
  int count = 0;
  const bool testPass = TypeC() && (p.EppPassIndex == 1 || p.EppPassIndex == 2);
  for (int slot = 0; slot < bridge::kPortCount; ++slot) {
    bridge::PortRecord& r = Record(slot);
    if (!r.inUse) continue;
    host_.MarkNode(slot, 1);
    r.present = 0;
    const int e = bridge::FindStorageEntryOfPort(r, p.storageEntries.data(), p.storageEntryCount);
    unsigned chip = 0;
    if (e >= 0) {
      const bridge::StorageDeviceEntry& entry = p.storageEntries[static_cast<size_t>(e)];
      bridge::SetFieldText(r.devicePath, bridge::DevicePath(entry));
      r.deviceInstance = entry.devInst;
      r.parentInstance = entry.parentDevInst;
      r.uasp = entry.isScsi;
      chip = bridge::IdentifyChipType(r.devicePath);
    }
    r.chipType = static_cast<bridge::ChipType>(chip);
    const bool absent = chip == 0 || (TypeC() && chip == kEppChipType) ||
                        (chip == kUsb3EnableChipType && IsUsb3Enabled(r.devicePath) != 1);
    if (!absent) {
      const auto type = static_cast<bridge::ChipType>(chip);
      r.capacityMB = static_cast<int32_t>(bridge::GetDiskCapacityMB(r.devicePath, type));
      r.freeBytes = static_cast<int64_t>(bridge::GetDriveFreeSpace(r.devicePath));
      char version[bridge::kFirmwareVersionSize] = {};
      static_cast<void>(bridge::FormatFirmwareVersion(type, r.devicePath, version));  // empty on failure
      bridge::SetFieldText(r.firmwareVersion, version);
      r.firmwareAccepted = bridge::CheckFirmwareVersion(r.devicePath, type, version);
      r.spiFlashType = static_cast<uint8_t>(bridge::GetSpiFlashType(type, r.devicePath));
    }
    // A product that did not come back with a disk in a Type-C test pass is
    // not there at all: it must not take the pass's one worker.
    if (absent || (testPass && r.capacityMB <= 0)) {
      host_.MarkNode(slot, 0);
      continue;
    }
    r.present = 1;
    ++count;
  }
  return count;
}

// Step 7: the firmware file into the zeroed image, and its clone marks.
bool Pass::LoadFirmware() {
  const char* refusal = nullptr;
  switch (LoadFirmwareFile(std::string(FieldText(settings_.FwFileName)).c_str(),
                           controls_.cloneProduct, s_.pass.firmwareImage)) {
    case FirmwareLoad::kLoaded: return true;
    case FirmwareLoad::kUnreadable: return false;
    case FirmwareLoad::kEmpty: refusal = kFirmwareEmpty; break;
    case FirmwareLoad::kTooLarge: refusal = kFirmwareTooLarge; break;
    case FirmwareLoad::kNotClone: refusal = kNotCloneFirmware; break;
    case FirmwareLoad::kClone: refusal = kCloneFirmware; break;
  }
  platform::MessageBox(refusal, kFirmwareErrorCaption, platform::kMbOk | platform::kMbIconError);
  return false;
}

// A pass that ends before its workers: nothing waits for it any more.
void Pass::Abort() {
  s_.pass.firmwareImage.Release();
  s_.passEnd.Set();
  host_.EndWait();
  host_.Refresh();
}

// Steps 8-9.
void Pass::PrepareSoftwareImage() {
  if (settings_.EnSWCopy) SetFieldText(settings_.SwImgPath, SoftwareImageSource(controls_.softwareImagePath));
  if (settings_.EnFolderCompare) {
    disk::FolderCounts counts;
    const std::string source = CompareSource(FieldText(settings_.SwImgPath));
    static_cast<void>(disk::CompareFolderTree(source.c_str(), "", 0, 0, counts));  // counts what it met
    settings_.FolderCount = counts.folders;
    settings_.FileCount = counts.files;
  }
}

std::unique_ptr<WorkerJob> Pass::MakeJob(int slot) {
  auto job = std::make_unique<WorkerJob>();
  job->pass = &s_.pass;
  job->postPortUpdate = [queue = s_.queue] { queue->Post(kWmPortUpdate); };
  job->slot = slot;
  job->controls = controls_.workers;
  job->settings = settings_;
  // Its own serial number, as the configuration image takes it.
  StoreSerialNumber(job->settings, std::string(FieldText(settings_.String3)));
  return job;
}

bool Pass::Launch(int slot, std::unique_ptr<WorkerJob> job) {
  s_.members.lastStartedSlot = slot;
  // The job goes with the thread; a thread that cannot start frees it here.
  auto held = std::make_shared<std::unique_ptr<WorkerJob>>(std::move(job));
  const platform::Handle thread = platform::CreateThread(
      [held] { return static_cast<uint32_t>(PortWorkerThread(std::move(*held))); },
      [queue = s_.queue] { queue->Post(kWmThreadEnded); });
  if (thread == platform::kInvalidHandle) {
    platform::DebugTrace("Port %d: its worker thread cannot start (error %u)\n", Record(slot).hubPort,
                         platform::GetLastError());
    return false;
  }
  s_.members.threads[static_cast<size_t>(slot)] = thread;
  static_cast<void>(platform::SetThreadPriority(thread, platform::kThreadPriorityTimeCritical));  // where allowed
  return true;
}

// Steps 10-11. Every job takes its serial numbers first, and the advanced
// ones reach the settings file before any worker starts: a product never
// holds a number that a later session, after a crash, could give again.
// False when they cannot be kept; then no worker starts and no number is
// used up.
bool Pass::StartWorkers() {
  const bool cfg = settings_.EnEEPROMUpdate != 0;
  const bool serialAdvances = cfg && settings_.String3Inc && !settings_.EnBarcodeMode && !TypeC();
  const SettingsBlock before = settings_;
  std::vector<std::pair<int, std::unique_ptr<WorkerJob>>> jobs;
  int counted = 0;
  int unstarted = 0;
  bool stopped = false;
  bool advanced = false;
  for (int slot = 0; slot < bridge::kPortCount && counted < summary_.presentCount; ++slot) {
    bridge::PortRecord& r = Record(slot);
    if (!r.present) continue;
    ++counted;
    if (stopped) {
      ++unstarted;
      continue;
    }
    const std::string_view serial = FieldText(settings_.String3);
    if (cfg && ((options_.CheckMaxSn && CompareSerial(serial, FieldText(settings_.StringMaxSn)) > 0) ||
                (serialAdvances && IsLastHexSerial(serial)))) {
      platform::MessageBox(kMaxSerialReached, "Error", platform::kMbOk | platform::kMbIconError);
      r.configurationStatus = bridge::kStepFail;
      r.result = -1;
      r.finalResult = -1;
      Post();
      stopped = true;
      continue;
    }
    jobs.emplace_back(slot, MakeJob(slot));
    if (!cfg) continue;
    if (settings_.StringAInc) IncrementHexSerial(settings_.StringA);
    if (settings_.StringBInc) IncrementHexSerial(settings_.StringB);
    if (serialAdvances) IncrementHexSerial(settings_.String3);
    advanced = advanced || settings_.StringAInc || settings_.StringBInc || serialAdvances;
  }
  if (advanced && !StoreIssuedSerials(s_.iniPath, settings_, options_)) {
    std::memcpy(settings_.StringA, before.StringA, sizeof settings_.StringA);
    std::memcpy(settings_.StringB, before.StringB, sizeof settings_.StringB);
    std::memcpy(settings_.String3, before.String3, sizeof settings_.String3);
    ShowUnwritable(kSerialNotKept, platform::ResolveInProgramFolder(s_.iniPath));
    return false;
  }
  for (auto& [slot, job] : jobs) {
    if (Launch(slot, std::move(job))) {
      ++summary_.started;
      continue;
    }
    bridge::PortRecord& r = Record(slot);
    r.result = -1;
    r.finalResult = -1;
    Post();
  }
  // A product the pass could not start on was tested all the same: it
  // keeps its row and its number, so the next pass's numbers follow on.
  if (!TypeC()) settings_.TotalTestCount += unstarted;
  return true;
}

// The yield counted so far reaches its file; false (after the message)
// when the file cannot take it, and the next pass tries again first.
bool Pass::KeepYield() {
  s_.members.yieldUnkept = !KeepYieldCounters(settings_.TotalTestCount, settings_.NumberOfPass);
  if (s_.members.yieldUnkept) summary_.kept = false;
  return !s_.members.yieldUnkept;
}

// Step 13, and each result counted once before the rows are written.
void Pass::EndWorkers() {
  CloseThreads(s_.members.threads);
  s_.passEnd.Set();
  host_.EndWait();
  host_.ShowSerials();
  s_.pass.firmwareImage.Release();
  CountPortResults(s_.pass.ports, settings_, TypeC(), s_.pass.EppPassIndex);
  // A worker's report, applied here where no worker reads the options any
  // more: later passes and the save see both off until a load sets them.
  if (s_.pass.MultiSecOptionsOff.exchange(false)) {
    options_.EnMultiSec = 0;
    options_.EnOver2TBMulLun = 0;
  }
  Post();
}

// Steps 14-16.
void Pass::WriteRows() {
  const platform::LocalTime now = platform::GetLocalTime();
  DayLogWriter log;
  summary_.logged = log.Open(s_.dayLog);
  const bool opened = summary_.logged;
  const int32_t passIndex = s_.pass.EppPassIndex;
  int32_t number = firstRowNumber_;
  bool allPass = true;
  for (int slot = 0; slot < bridge::kPortCount; ++slot) {
    const bridge::PortRecord& r = Record(slot);
    if (!r.present) continue;
    if (r.result == -1) allPass = false;
    DayLogRow row;
    // The test passes of a Type-C round share the number of its first.
    row.number = TypeC() && passIndex > 0 ? settings_.TotalTestCount : number++;
    row.time = now;
    row.identity = IdentityColumn(r, settings_, options_, controls_.identity.stringAToDiskString);
    row.verify = VerifyColumns(r, settings_, controls_.workers);
    row.typeCPass = TypeC() ? passIndex : -1;
    const std::string text = FormatDayLogRow(row, r);
    if (TypeC()) {
      // Kept whole, however long: a row cut to a fixed length would lose its
      // line end and run into the next entry of the round's block.
      s_.members.typeCRows[static_cast<size_t>(std::clamp(passIndex, 0, kTypeCPasses - 1))] = text;
    } else if (summary_.logged && !log.Append(text)) {
      platform::DebugTrace("The day log %s did not take a row\n", s_.dayLog.path.c_str());
      summary_.logged = false;
    }
  }
  if (opened && summary_.logged && !TypeC() && !log.Flush()) {
    platform::DebugTrace("The day log %s did not keep its rows\n", s_.dayLog.path.c_str());
    summary_.logged = false;
  }
  // A row that could not be written is reported as a log that cannot be opened.
  if (!summary_.logged)
    platform::MessageBox(kLogOpenFailed, "Error", platform::kMbOk | platform::kMbIconError);
  summary_.allPass = allPass;
  // A pass that went unrecorded is no pass.
  s_.members.lastPassFailed = allPass && (summary_.logged || TypeC()) ? 0 : 1;
}

PassSummary Pass::Run() {
  const PassSummary summary = RunSteps();
  s_.members.unkept = !summary.kept;
  return summary;
}

PassSummary Pass::RunSteps() {
  // No pass starts before the yield of the last one is kept.
  if (s_.members.yieldUnkept && !KeepYield()) return summary_;
  PassState& p = s_.pass;
  p.firmwareImage.Release();
  const int count = FindPresentPorts();
  p.PresentDeviceCount = count;
  p.RelinkIdleCount = count;
  g_nHDDAccessRetry = 5 * count;
  summary_.presentCount = count;
  // A Type-C pass drives exactly one product.
  if (count == 0 || (TypeC() && count != 1)) return summary_;

  s_.passEnd.Reset();
  host_.BeginWait();
  if (settings_.EnEEPROMUpdate) host_.RunEepromTypeHandler();
  controls_ = host_.Controls();
  if (settings_.EnEEPROMUpdate) PrepareOptionBlock(settings_, controls_.identity, s_.mix, p.FirstChipTypeRev);
  if (settings_.EnRWTest && !p.pattern.loaded) {
    const std::string pattern(FieldText(settings_.WriteFileName));
    for (size_t page = 0; page < p.pattern.pages.size(); ++page)
      static_cast<void>(bridge::ReadHexDataPage(pattern.c_str(), p.pattern.pages[page].data(),
                                                static_cast<unsigned>(page)));  // a short file leaves zeros
    p.pattern.loaded = true;
  }
  if (settings_.EnFWUpdate && !LoadFirmware()) {
    Abort();
    return summary_;
  }
  PrepareSoftwareImage();

  // Rows are numbered from the count before any worker could add to it.
  firstRowNumber_ = settings_.TotalTestCount + 1;
  if (!StartWorkers()) {
    summary_.kept = false;
    Abort();
    return summary_;
  }
  summary_.waited = true;
  host_.WaitUntil([this] { return !AnyThreadActive(s_.members.threads); });
  EndWorkers();
  static_cast<void>(KeepYield());  // a failure was shown; the rows still go to the log
  WriteRows();

  // Rows the log did not take leave the pass without its result, as a log
  // that cannot be opened does.
  if (!summary_.logged && !TypeC()) return summary_;
  host_.ShowResult(summary_.allPass);
  if (!TypeC() && options_.MPSafeRemove) host_.SafeRemoveAll();
  return summary_;
}

}  // namespace

bool AnyThreadActive(const PortThreads& threads) {
  return std::any_of(threads.begin(), threads.end(), [](platform::Handle t) { return platform::ThreadStillActive(t); });
}

void CloseThreads(PortThreads& threads) {
  for (platform::Handle& thread : threads) {
    if (thread != platform::kInvalidHandle) platform::CloseHandle(thread);
    thread = platform::kInvalidHandle;
  }
}

PassSummary RunProductionPass(StationPass& station, PassHost& host) { return Pass(station, host).Run(); }

}  // namespace station
