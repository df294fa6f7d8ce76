#include "sdkstation/sdk_port_worker.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/block_commands.h"
#include "bridge/port_table.h"
#include "bridge/vendor_commands.h"
#include "disk/folder_compare.h"
#include "disk/format_routes.h"
#include "disk/os_version_tests.h"
#include "platform/clock.h"
#include "sdkstation/device_checks.h"
#include "sdkstation/device_relink.h"
#include "sdkstation/device_sdk.h"
#include "sdkstation/disk_checks.h"
#include "station/software_copy.h"

namespace sdkstation {
namespace {

using bridge::kStepFail;
using bridge::kStepOff;
using bridge::kStepPass;
using bridge::kStepRunning;
using bridge::kStepSkipped;
using bridge::kStepUnmatched;

constexpr int kLetterQueries = 101;
constexpr int kLabelLetterQueries = 11;
constexpr uint32_t kLabelLetterPauseMs = 500;
constexpr uint32_t kLetterPauseMs = 1000;
constexpr uint32_t kAfterEraseMs = 500;
constexpr uint32_t kAfterRescanMs = 1000;
constexpr int kFlushTries = 5;
constexpr int kEndFlushes = 3;
constexpr int kEndPromptCloses = 101;
constexpr uint32_t kEndPromptPauseMs = 2;
constexpr int kFormatPromptSteps = 60;
constexpr int kFormatPromptCredit = 5;
constexpr uint32_t kFormatPromptPauseMs = 50;
constexpr int kMinimumFastTestSize = 256;
constexpr int kFirstRwTestSize = 2;

class SdkPortWorker {
 public:
  explicit SdkPortWorker(SdkWorkerJob& job)
      : job_(job),
        s_(job.settings),
        pass_(*job.run->pass),
        locks_(*job.run->locks),
        record_(pass_.ports[static_cast<size_t>(job.port)]),
        stages_(job.run->meeting, locks_.RelinkStageLock),
        standbyTimer_(s_.StandbyTimer) {
    std::memcpy(label_.data(), s_.DiskLabel, std::min(sizeof s_.DiskLabel, label_.size() - 1));
  }

  void Run();

 private:
  const char* path() const { return record_.devicePath; }
  const DeviceSdkTable& sdk() const { return DeviceSdk(); }
  void Post() {
    if (job_.postPortUpdate) job_.postPortUpdate();
  }
  void AddProgress(int32_t amount) { record_.progress = record_.progress + amount; }
  RelinkContext Relink() {
    return {pass_.ports, job_.port, s_, locks_, job_.run->meeting, stages_,
            pass_.m_UpdateSN[static_cast<size_t>(job_.port)].data()};
  }
  bool Clone() const { return s_.EnCloneProduct != 0; }
  bool Firmware() const { return s_.EnFWUpdate != 0; }
  bool Identity() const { return s_.EnEEPROMUpdate != 0; }
  bool Qvs87x() const { return record_.qvs87x != 0; }
  // Sets whichever of the firmware and identity statuses the update runs.
  void UpdateStatuses(int32_t status) {
    if (Firmware()) record_.firmwareStatus = status;
    if (Identity()) record_.identityStatus = status;
  }

  // The drive letter as the library maps it now; the field is emptied
  // first, so a failed query never leaves an earlier letter behind.
  bool QueryLetter() {
    std::memset(record_.driveLetter, 0, sizeof record_.driveLetter);
    std::array<char, qvfw::kLetterCapacity + 1> letter{};
    if (sdk().QV_GetMappingLetter(path(), letter.data()) == 0) return false;
    std::memcpy(record_.driveLetter, letter.data(), sizeof record_.driveLetter - 1);
    return record_.driveLetter[0] != '\0';
  }
  bool WaitForLetter(int queries, uint32_t pauseMs, bool pauseFirst) {
    for (int i = 0; i < queries; ++i) {
      if (pauseFirst) platform::Sleep(pauseMs);
      if (QueryLetter()) return true;
      if (!pauseFirst) platform::Sleep(pauseMs);
    }
    return false;
  }
  std::string Destination() const {
    return std::string(record_.driveLetter) + ":\\" + std::string(FieldText(s_.SwDstFolder));
  }
  void Flushes() {
    (void)bridge::FlushCacheExt(path());
    (void)FlushDiskCache(path());
  }

  bool EraseOnly();
  void Verify();
  bool SpeedCheck(int32_t minimumCode);
  void FirmwareCheck();
  void CloneUpdate();
  void StandardUpdate();
  void RelinkStep();
  void Rescan();
  void CloneStandbyTimer();
  void Ufs();
  void DiskSteps();
  bool OneCallRoutes();
  void FallbackRoutes();
  void ReadWriteTest();
  void SoftwareCopy();
  void FolderCompare();
  void End();

  SdkWorkerJob& job_;
  const SdkSettingsBlock& s_;
  SdkPassState& pass_;
  SdkLocks& locks_;
  SdkPortRecord& record_;
  StageCounter stages_;
  bool fail_ = false;
  int32_t standbyTimer_;
  std::array<char, 81> label_{};
  std::vector<uint8_t> preserve_;
};

void SdkPortWorker::Run() {
  // Step 1.
  record_.progress = 5;
  record_.finalResult = 0;
  Post();
  record_.ClearStatuses();
  record_.ufsWriteProtect = 0;
  record_.ufsEnabled = 0;
  record_.verifyFlags = 0;
  std::memset(record_.driveLetter, 0, sizeof record_.driveLetter);

  if (s_.EraseFlashForDebug || s_.EraseFlashOnly) {
    fail_ = !EraseOnly();
    return End();
  }
  Verify();
  if (s_.EnUSB30Check && !SpeedCheck(qvfw::kSpeedGen1)) return End();
  if (s_.EnUSB31Gen2Check && !SpeedCheck(qvfw::kSpeedGen2)) return End();
  if (s_.EnFWCheck) FirmwareCheck();
  if (record_.RunningCodeMode == 0) fail_ = true;
  // An identity that never reached the library cannot be written.
  if (!fail_ && Identity() && !pass_.identityHandedOver[static_cast<size_t>(job_.port)]) {
    record_.identityStatus = kStepFail;
    fail_ = true;
  }
  if (!fail_ && Clone() && (Firmware() || Identity())) CloneUpdate();
  if (!fail_ && !Clone()) StandardUpdate();
  // A failure so far goes to the end, past the UFS step too: nothing after
  // the update runs on a port that failed it (or never had a running
  // firmware).
  if (fail_) {
    stages_.Count(kStageSkipped);
    return End();
  }
  RelinkStep();
  Rescan();
  CloneStandbyTimer();
  Ufs();
  DiskSteps();
  End();
}

// Step 2.
bool SdkPortWorker::EraseOnly() {
  record_.firmwareStatus = kStepRunning;
  Post();
  bool ok = false;
  if (sdk().QV_SerialFlashErase(path()) == 0) {
    stages_.Count(kStageErase);
  } else {
    platform::Sleep(kAfterEraseMs);
    ok = ResetAndRefindDevice(Relink(), kStageErase);
  }
  record_.firmwareStatus = ok ? kStepPass : kStepFail;
  return ok;
}

// Step 3.
void SdkPortWorker::Verify() {
  if (s_.EnVenderCheck && !fail_) {
    record_.verifyStatus = kStepRunning;
    int32_t flags = 0;
    const auto idMatches = [this](auto entry, const char* expected) {
      uint16_t id = 0;
      if (entry(path(), &id) == 0) return false;
      char text[8];
      std::snprintf(text, sizeof text, "%04X", id);
      return std::string_view(text) == expected;
    };
    const auto textMatches = [this](auto entry, const char* expected) {
      std::array<char, qvfw::kTextCapacity + 1> text{};
      return entry(path(), text.data()) != 0 && std::string_view(text.data()) == expected;
    };
    const std::string vid(FieldText(s_.VerifyVenderID));
    const std::string pid(FieldText(s_.VerifyProductID));
    const std::string manufacturer(FieldText(s_.VerifyStringA));
    const std::string product(FieldText(s_.VerifyStringB));
    if (s_.EnCheckVID && !idMatches(sdk().QV_GetVIDfromOS, vid.c_str())) flags |= bridge::kVerifyVidPid;
    if (s_.EnCheckPID && !idMatches(sdk().QV_GetPIDfromOS, pid.c_str())) flags |= bridge::kVerifyVidPid;
    if (s_.EnCheckManufString && !textMatches(sdk().QV_GetManuStrfromOS, manufacturer.c_str()))
      flags |= bridge::kVerifyManufacturer;
    if (s_.EnCheckUSBProdString && !textMatches(sdk().QV_GetProdStrfromOS, product.c_str()))
      flags |= bridge::kVerifyProduct;
    if (s_.EnCheckDiskName && !VerifyInquiryString(path(), std::string(FieldText(s_.DiskName)).c_str()))
      flags |= bridge::kVerifyDiskName;
    if (s_.EnCheckHDDFwRev && !VerifyDiskFwRev(path(), std::string(FieldText(s_.HDDFwRev)).c_str()))
      flags |= bridge::kVerifyDiskFirmware;
    if (s_.EnCheckVolLabel) {
      if (!WaitForLetter(kLabelLetterQueries, kLabelLetterPauseMs, false)) flags |= bridge::kVerifyNoDriveLetter;
      if (record_.driveLetter[0] != '\0') {
        char label[256] = {};
        int kind = 0;
        (void)bridge::GetVolumeFileSystem(record_.driveLetter[0], label, &kind);
        if (std::string_view(label) != FieldText(s_.VolumeLabel)) flags |= bridge::kVerifyVolumeLabel;
      }
    }
    record_.verifyFlags = flags;
    fail_ = flags != 0;
    record_.verifyStatus = fail_ ? kStepFail : kStepPass;
  }
  Post();
}

// Steps 4 and 5: false ends the worker.
bool SdkPortWorker::SpeedCheck(int32_t minimumCode) {
  record_.usbSpeedCheckStatus = kStepRunning;
  int speed = 0;
  (void)sdk().QV_GetUSBSpeed(path(), &speed);
  if (speed < minimumCode) {
    record_.usbSpeedCheckStatus = kStepFail;
    fail_ = true;
    return false;
  }
  record_.usbSpeedCheckStatus = kStepPass;
  Post();
  return true;
}

// Step 6.
void SdkPortWorker::FirmwareCheck() {
  record_.firmwareCheckStatus = kStepRunning;
  const std::string file(FieldText(s_.FwFileName));
  const bool ok = sdk().QV_CheckChipFW(path(), file.c_str()) != 0;
  record_.firmwareCheckStatus = ok ? kStepPass : kStepFail;
  if (!ok) fail_ = true;
  Post();
}

// Step 8.
void SdkPortWorker::CloneUpdate() {
  UpdateStatuses(kStepRunning);
  Post();
  preserve_.assign(qvfw::kPreserveBufferSize, 0);
  const int bufferSize = static_cast<int>(preserve_.size());
  bool ok = true;
  if (Firmware() && !Identity()) {
    ok = sdk().QV_87xPreserveCustomizedSetting(path()) != 0 &&
         sdk().QV_Get87xStandbyTimerbySCSICmd(path(), &standbyTimer_) != 0;
  } else if (Identity() && !Firmware()) {
    ok = sdk().QV_87xPreserveCustomizedSettingEx(path(), preserve_.data(), bufferSize) != 0;
  }
  if (!ok) {
    UpdateStatuses(kStepFail);
    fail_ = true;
    return;
  }

  if (record_.RunningCodeMode == qvfw::kModeInternalCode) {
    stages_.Count(kStageErase);
  } else if (!CanRefindByHub(path(), s_)) {
    // Erased, a product that cannot be found again would be left blank.
    stages_.Count(kStageErase);
    fail_ = true;
  } else if (sdk().QV_SerialFlashErase(path()) == 0) {
    stages_.Count(kStageErase);
    fail_ = true;
  } else {
    platform::Sleep(kAfterEraseMs);
    fail_ = !ResetAndRefindDevice(Relink(), kStageErase);
  }
  if (fail_) {
    record_.relinkStatus = kStepFail;
    UpdateStatuses(kStepFail);
    return;
  }

  if (Firmware() && !Identity()) {
    ok = sdk().QV_87x_Clone_FWUpdateProgrammingNoCustomizedSetting(path()) != 0;
  } else if (Firmware()) {
    std::lock_guard lock(locks_.FirmwareProgramLock);
    ok = sdk().QV_87x_Clone_FWUpdateProgrammingEX(path()) != 0;
  } else {
    ok = false;
    for (int attempt = 0; attempt <= std::max(s_.EEPROMRetry, 0) && !ok; ++attempt)
      ok = sdk().QV_87x_Clone_UpdateCustomizedSetting(path(), preserve_.data(), bufferSize) != 0;
  }
  if (!ok) {
    UpdateStatuses(kStepFail);
    fail_ = true;
  }
}

// Step 9.
void SdkPortWorker::StandardUpdate() {
  if (record_.RunningCodeMode == qvfw::kModeInternalCode && !Qvs87x()) {
    const int tableIndex = sdk().QV_GetCustomizedSettingTableIndex(path());
    fail_ = tableIndex == -1 || sdk().QV_UpdateMFGOnly(path()) == 0 || !RefindDevice(Relink(), tableIndex);
    if (fail_) {
      UpdateStatuses(kStepFail);
      return;
    }
  }
  bool ok = true;
  if (Firmware() && !Identity()) {
    record_.firmwareStatus = kStepRunning;
    Post();
    ok = sdk().QV_FWUpdateProgrammingNoCustomizedSetting(path()) != 0;
    record_.firmwareStatus = ok ? kStepPass : kStepFail;
  } else if (Firmware()) {
    UpdateStatuses(kStepRunning);
    Post();
    {
      std::lock_guard lock(locks_.FirmwareProgramLock);
      ok = sdk().QV_FWUpdateProgrammingEX(path()) != 0;
    }
    UpdateStatuses(ok ? kStepPass : kStepFail);
  } else if (Identity()) {
    record_.identityStatus = kStepRunning;
    Post();
    ok = false;
    for (int attempt = 0; attempt <= std::max(s_.EEPROMRetry, 0) && !ok; ++attempt)
      ok = sdk().QV_UpdateCustomizedSetting(path()) != 0;
    record_.identityStatus = ok ? kStepPass : kStepFail;
  }
  if (!ok) fail_ = true;
}

// Step 11.
void SdkPortWorker::RelinkStep() {
  if (!Clone()) AddProgress(10);
  Post();
  bool ok = true;
  if (Clone() && Identity()) {
    ok = QV_RelinkEx(Relink(), kStageFirmware, true);
    if (!ok) record_.identityStatus = kStepFail;
  } else if (Clone() && Firmware()) {
    ok = ResetAndRefindDevice(Relink(), kStageFirmware);
    if (!ok) record_.firmwareStatus = kStepFail;
  } else if (s_.MPPortReset && Firmware()) {
    ok = QV_RelinkEx(Relink(), kStageFirmware, Identity());
  } else if (s_.MPPortReset && Identity()) {
    ok = QV_RelinkEx(Relink(), kStageIdentity, true);
  } else {
    record_.relinkStatus = kStepSkipped;
    return;
  }
  record_.relinkStatus = ok ? kStepPass : kStepFail;
  if (!ok) fail_ = true;
}

// Step 12.
void SdkPortWorker::Rescan() {
  if (!fail_ && !s_.MPPortReset && record_.RunningCodeMode != qvfw::kModeFirmware && !Qvs87x()) {
    (void)QV_RescanDisk(locks_.RescanLock);
    platform::Sleep(kAfterRescanMs);
  }
  Post();
}

// Step 13.
void SdkPortWorker::CloneStandbyTimer() {
  if (!fail_ && Clone() && (Firmware() || Identity())) {
    const bool ok = sdk().QV_Update87xStandbyTimer(path(), standbyTimer_) != 0;
    UpdateStatuses(ok ? kStepPass : kStepFail);
    if (!ok) fail_ = true;
  }
  if (Clone()) AddProgress(10);
  Post();
}

// Step 14, after the relink whatever it gave; a port whose update failed
// went to the end and only counts this stage there.
void SdkPortWorker::Ufs() {
  const UfsOutcome ufs = EnableUfsLun(Relink());
  if (ufs.enabled) record_.ufsEnabled = 1;
  // A failed relink may have left the product off the bus: it cannot pass.
  // A unit that merely stays disabled is left to the disk steps.
  if (ufs.relinkFailed) fail_ = true;
  if (ufs.ufs) {
    int writeProtected = 0;
    if (sdk().QV_CheckWriteProtect(path(), &writeProtected) != 0 && writeProtected != 0) {
      record_.ufsWriteProtect = 1;
      fail_ = true;
    }
  }
  Post();
}

// Step 15.
void SdkPortWorker::DiskSteps() {
  const bool partition = s_.EnPartition != 0;
  const bool format = s_.EnFormat != 0;
  if (!fail_ && (partition || format)) {
    SharedWord<int32_t>& status = partition ? record_.partitionStatus : record_.formatStatus;
    status = kStepRunning;
    Post();
    if (sdk().QV_FormatUnit(path()) == 0) {
      status = kStepFail;
      fail_ = true;
    }
  }
  const bool done = !fail_ && OneCallRoutes();
  if (!fail_ && !done && (partition || format)) {
    FallbackRoutes();
  } else {
    AddProgress(60);
    Post();
  }
  ReadWriteTest();
  SoftwareCopy();
  FolderCompare();
}

// The one-call partition and format routes; true when one of them did it.
bool SdkPortWorker::OneCallRoutes() {
  const bool partition = s_.EnPartition != 0;
  const bool format = s_.EnFormat != 0;
  const char* label = label_.data();
  const int table = s_.nPartitionTblFmt;
  const int fs = s_.DiskFormat;
  const int unit = s_.AllocationUnitSize;
  const int quick = s_.EnQuickFormat;
  bool done = false;
  if (partition && !format) {
    record_.partitionStatus = kStepRunning;
    Post();
    done = sdk().QV_Partition_LBA(path(), table, table, 1) != 0;
    if (done) record_.partitionStatus = kStepPass;
  } else if (format && !partition) {
    record_.formatStatus = kStepRunning;
    Post();
    if (fs != qvfw::kFileSystemNtfs) done = sdk().QV_Format_LBA(path(), label, fs, unit, quick, 1) != 0;
    if (!done) done = sdk().QV_Format_FormatCOM(path(), label, fs, unit, quick, 0) != 0;
    if (!done) done = sdk().QV_Format_WindowsAPI(path(), label, fs, unit, quick, 0) != 0;
    if (done) record_.formatStatus = kStepPass;
  } else if (partition && format) {
    record_.partitionStatus = kStepRunning;
    record_.formatStatus = kStepRunning;
    Post();
    if (fs != qvfw::kFileSystemNtfs)
      done = sdk().QV_Partition_LBA_Format_LBA(path(), table, label, fs, unit, quick, table, 1) != 0;
    if (!done)
      done = sdk().QV_Partition_LBA_Format_FormatCOM(path(), table, label, fs, unit, quick, table, 1, 0) != 0;
    if (!done)
      done = sdk().QV_Partition_LBA_Format_WindowsAPI(path(), table, label, fs, unit, quick, table, 1, 0) != 0;
    if (done) {
      record_.partitionStatus = kStepPass;
      record_.formatStatus = kStepPass;
    }
  }
  return done;
}

void SdkPortWorker::FallbackRoutes() {
  std::memcpy(label_.data(), s_.DiskLabel, std::min(sizeof s_.DiskLabel, label_.size() - 1));
  if (s_.EnPartition) {
    record_.partitionStatus = kStepRunning;
    Post();
    int ok = 0;
    {
      std::lock_guard lock(locks_.PartitionLock);
      ok = sdk().QV_DiskPartition(path(), s_.nPartitionTblFmt, s_.nPartitionTblFmt);
    }
    if (ok && WaitForLetter(kLetterQueries, kLetterPauseMs, true)) {
      record_.partitionStatus = kStepPass;
    } else {
      record_.partitionStatus = kStepFail;
      fail_ = true;
    }
  }
  AddProgress(25);
  Post();
  if (fail_ && s_.EnFormat) record_.formatStatus = kStepFail;
  if (!fail_ && s_.EnFormat) {
    if (record_.driveLetter[0] == '\0') {
      (void)QV_RescanDisk(locks_.RescanLock);
      (void)QueryLetter();
    }
    record_.formatStatus = kStepRunning;
    Post();
    int ok = 0;
    {
      std::lock_guard lock(locks_.FormatLock);
      ok = sdk().QV_DiskFormat(path(), s_.DiskFormat, label_.data(), s_.FmtSecPerClus);
    }
    if (ok) {
      const uint64_t free = bridge::GetDriveFreeSpace(path());
      record_.freeBytes = free;
      if (s_.EnFreeSpaceCheck && !CheckFreeSpaceRange(path(), s_.FreeSpace, s_.FreeSpaceRange)) {
        record_.formatStatus = kStepUnmatched;
        fail_ = true;
      } else {
        record_.formatStatus = kStepPass;
      }
      // Close the system's format prompts that a new partition brings up.
      for (int steps = kFormatPromptSteps; s_.EnPartition && steps > 0; --steps) {
        if (disk::CloseFormatPrompt()) steps -= kFormatPromptCredit;
        platform::Sleep(kFormatPromptPauseMs);
      }
    } else {
      record_.formatStatus = kStepFail;
      fail_ = true;
    }
    AddProgress(35);
    Post();
  }
}

// Step 15.5.
void SdkPortWorker::ReadWriteTest() {
  if (!fail_ && s_.EnRWTest) {
    record_.readWriteStatus = kStepRunning;
    Post();
    // Without a drive letter there is no volume to test: the step fails.
    int32_t status = kStepFail;
    if (WaitForLetter(kLetterQueries, kLetterPauseMs, true)) {
      float read = 0;
      float write = 0;
      bool ok = false;
      {
        std::lock_guard lock(locks_.RWTestLock);
        ok = sdk().QV_DiskRWTest(path(), &read, &write, kFirstRwTestSize, nullptr) != 0;
      }
      if (ok) {
        int speed = 0;
        (void)sdk().QV_GetUSBSpeed(path(), &speed);
        const int size = speed >= qvfw::kSpeedGen1 ? std::max(s_.RWDataSize, kMinimumFastTestSize) : s_.RWDataSize;
        read = 0;
        write = 0;
        std::lock_guard lock(locks_.RWTestLock);
        ok = sdk().QV_DiskRWTest(path(), &read, &write, size, job_.run->pattern) != 0;
      }
      // Both flushes every round; the rounds end once either was taken.
      for (int i = 0; i < kFlushTries; ++i) {
        const bool synchronized = FlushDiskCache(path()) != 0;
        const bool flushed = bridge::FlushCacheExt(path()) != 0;
        if (synchronized || flushed) break;
      }
      if (ok) {
        record_.readSpeed = read * s_.PerfShift;
        record_.writeSpeed = write * s_.PerfShift;
        record_.freeBytes = bridge::GetDriveFreeSpace(path());
        status = kStepPass;
        if (s_.EnFreeSpaceCheck && !CheckFreeSpaceRange(path(), s_.FreeSpace, s_.FreeSpaceRange)) status = kStepUnmatched;
        // The limits apply only when both are set.
        const bool limits = s_.USBReadPerformance > 0 && s_.USBWritePerformance > 0;
        if (limits && !(read * s_.PerfShift >= static_cast<float>(s_.USBReadPerformance) &&
                        write * s_.PerfShift >= static_cast<float>(s_.USBWritePerformance)))
          status = kStepFail;
      }
    }
    record_.readWriteStatus = status;
    if (status != kStepPass) fail_ = true;
  }
  AddProgress(10);
  Post();
}

// Step 15.6.
void SdkPortWorker::SoftwareCopy() {
  if (s_.EnSWCopy && !fail_) {
    if (record_.driveLetter[0] == '\0') (void)QueryLetter();
    const std::string destination = Destination();
    record_.softwareCopyStatus = kStepRunning;
    Post();
    if (record_.driveLetter[0] != '\0' &&
        station::CopySoftwareImage(FieldText(s_.SwImgPath), destination)) {
      record_.softwareCopyStatus = kStepPass;
      for (int i = 0; i < kEndFlushes; ++i) Flushes();
    } else {
      record_.softwareCopyStatus = kStepFail;
      fail_ = true;
    }
    AddProgress(5);
    Post();
  }
}

// Step 15.7.
void SdkPortWorker::FolderCompare() {
  if (s_.EnFolderCompare && job_.folderCompareUsable && !fail_) {
    const std::string source = station::CompareSource(FieldText(s_.SwImgPath));
    record_.folderCompareStatus = kStepRunning;
    disk::FolderCounts counts{s_.FolderCount, s_.FileCount};
    const bool ok = record_.driveLetter[0] != '\0' &&
                    disk::VerifyCopiedFolder(source.c_str(), Destination().c_str(), s_.bAdvenceCompare, counts);
    record_.folderCompareStatus = ok ? kStepPass : kStepFail;
    if (!ok) fail_ = true;
    AddProgress(5);
    Post();
  }
}

// Step 16: every path ends here.
void SdkPortWorker::End() {
  stages_.CountRemaining();
  if (disk::IsWindows7Through81() || disk::IsWindows8Or81() || disk::IsWindows10()) {
    (void)disk::CloseFormatPrompt();
    for (int i = 1; s_.EnPartition && i < kEndPromptCloses; ++i) {
      platform::Sleep(kEndPromptPauseMs);
      (void)disk::CloseFormatPrompt();
    }
  }
  for (int i = 0; i < kEndFlushes; ++i) Flushes();
  const int32_t result = fail_ ? kStepFail : kStepPass;
  record_.result = result;
  record_.finalResult = result;
  record_.progress = 100;
  Post();
}

}  // namespace

uint32_t PortWorkerThread(std::unique_ptr<SdkWorkerJob> job) {
  SdkPortWorker(*job).Run();
  return 0;
}

}  // namespace sdkstation
