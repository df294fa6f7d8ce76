#include "station/port_worker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "bridge/block_commands.h"
#include "bridge/chip_identification.h"
#include "bridge/device_queries.h"
#include "bridge/ff04_flash_programming.h"
#include "bridge/firmware_verification.h"
#include "bridge/flash_detection.h"
#include "bridge/usb_tree.h"
#include "bridge/vendor_commands.h"
#include "disk/device_lock.h"
#include "disk/disk_rescan.h"
#include "disk/folder_compare.h"
#include "disk/format_routes.h"
#include "disk/os_version_tests.h"
#include "disk/partition_layout.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/heap_buffer.h"
#include "platform/message_box.h"
#include "station/capacity_checks.h"
#include "station/read_write_test.h"
#include "station/relink.h"
#include "station/separate_update.h"
#include "station/software_copy.h"
#include "station/step_helpers.h"
#include "station/update_flows.h"

namespace station {
namespace {

using bridge::ChipType;
using bridge::SharedWord;

constexpr uint32_t kEraseSettleMs = 500;
constexpr uint8_t kEraseWholeFlash = 3;
constexpr int kLabelLetterTries = 51;
constexpr int kPartitionLetterTries = 101;
constexpr uint32_t kLetterPollMs = 1000;
constexpr uint32_t kRescanSettleMs = 1000;
constexpr int kFormatPromptPolls = 601;
constexpr uint32_t kFormatPromptPollMs = 5;
constexpr int kEndPromptPolls = 101;
constexpr uint32_t kEndPromptPollMs = 2;
constexpr int32_t kWarmUpMB = 2;
constexpr int32_t kSuperSpeedTestMB = 256;
constexpr int kReadWriteFlushes = 10;
constexpr int kCopyFlushes = 3;
constexpr int kEndFlushes = 3;
constexpr uint32_t kPowerOnSettleMs = 200;
constexpr uint16_t kEppGpioRegister = 0x7059;
constexpr uint8_t kEppCc1Power = 0x08;
constexpr uint8_t kEppCc2Power = 0x10;
constexpr size_t kTypeCSerialCompare = 70;

bool InRange(ChipType type, int low, int high) { return type >= low && type <= high; }

// ChipTypes whose port speed the worker reads again.
bool RereadsSpeed(ChipType type) { return type == 13 || InRange(type, 19, 28); }

bool IsWindows7OrLater() { return disk::IsWindows7Through81() || disk::IsWindows10(); }

std::string UpperCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

class PortWorker {
 public:
  explicit PortWorker(WorkerJob& job)
      : job_(job),
        pass_(*job.pass),
        record_(pass_.ports.records[static_cast<size_t>(job.slot)]),
        settings_(job.settings),
        options_(pass_.options),
        controls_(job.controls) {
    std::memcpy(config_.block.data(), settings_.OptionBlock, config_.block.size());
  }

  void Run();

 private:
  const char* path() const { return record_.devicePath; }
  ChipType chip() const { return record_.chipType; }
  bool fw() const { return settings_.EnFWUpdate != 0; }
  bool cfg() const { return settings_.EnEEPROMUpdate != 0; }
  bool typeC() const { return settings_.EnEPPTypeC != 0; }
  int32_t eppPass() const { return pass_.EppPassIndex; }
  bridge::LoadedImage image() const { return pass_.firmwareImage.view(); }

  void Post() const {
    if (job_.postPortUpdate) job_.postPortUpdate();
  }
  // Every failing step leaves a trace naming it; the status word says the rest.
  void Fail(const char* step) {
    platform::DebugTrace("%d Port : %s Fail\n", job_.slot, step);
    fail_ = 1;
  }
  void AddProgress(int32_t amount) { record_.progress = record_.progress + amount; }

  bool Relink(ResetKind reset) {
    return RelinkAfterReset(pass_, record_, reset, settings_.MPResetWait, settings_.EnEPPTypeC,
                            fail_);
  }
  bool EraseFlash() {
    return bridge::WriteBridgeFlash(path(), 0, nullptr, 0, kEraseWholeFlash) != 0;
  }

  bool EraseStep(const char* step, bool settle);
  bool TypeCChecks();
  void VerifyIdentity();
  void CheckUsb3();
  void CheckFirmware();
  bool CombinedUpdate();
  int RunChipFlow(bool& abandoned);
  void SeparateUpdate();
  void RelinkStep();
  void Partition();
  void Format();
  void ReadWriteTest();
  void SoftwareCopy();
  void FolderCompare();
  void End();
  bool FindLetter(int tries, bool traceMisses);
  std::string Destination() const;

  WorkerJob& job_;
  PassState& pass_;
  bridge::PortRecord& record_;
  SettingsBlock& settings_;
  const StationOptions& options_;
  const ControlSnapshot& controls_;
  int fail_ = 0;
  ConfigImage config_;
  std::unique_ptr<platform::HeapBuffer> workingCopy_;
  StandbyQuery standby_;
  bool flashReady_ = false;
};

// Steps 2 and 3: the loop-debug erase and the erase box. Only the box's
// erase waits before the reset. False when the worker goes to its end.
bool PortWorker::EraseStep(const char* step, bool settle) {
  record_.firmwareStatus = bridge::kStepRunning;
  Post();
  if (!EraseFlash()) {
    record_.firmwareStatus = bridge::kStepFail;
    Fail(step);
    return false;
  }
  if (settle) platform::Sleep(kEraseSettleMs);
  if (!Relink(ResetKind::Bridge)) {
    record_.firmwareStatus = bridge::kStepFail;
    return false;
  }
  record_.firmwareStatus = bridge::kStepPass;
  Post();
  return true;
}

// Step 4, passes 1 and 2: the product on its CC port. Returns false when the
// checks are skipped (pass 0).
bool PortWorker::TypeCChecks() {
  if (eppPass() == 0) return false;
  if (eppPass() == 1) pass_.EppCc1Port = record_.hubPort;
  if (eppPass() == 2 && record_.hubPort == pass_.EppCc1Port.load()) {
    record_.firmwareStatus = bridge::kStepFail;
    Fail("Type-C check");
    platform::MessageBox(kCc1SameAsCc2Message, "Error", platform::kMbOk);
  }
  const std::string_view serial = bridge::FieldText(record_.usbSerial);
  const std::string_view wanted = FieldText(settings_.String3);
  if (serial.substr(0, kTypeCSerialCompare) != wanted.substr(0, kTypeCSerialCompare)) {
    record_.firmwareStatus = bridge::kStepFail;
    Fail("Type-C check");
  }
  return true;
}

// Step 6.
void PortWorker::VerifyIdentity() {
  if (!settings_.EnVenderCheck) {
    record_.identityCheckStatus = bridge::kStepOff;
    Post();
    return;
  }
  record_.identityCheckStatus = bridge::kStepRunning;
  if (fail_) {
    record_.identityCheckStatus = bridge::kStepSkipped;
    Post();
    return;
  }
  int32_t flags = 0;
  char vid[5] = {};
  char pid[5] = {};
  (void)bridge::ParseVid(record_.instanceId, vid);
  (void)bridge::ParsePid(record_.instanceId, pid);
  if (UpperCase(vid) != FieldText(settings_.VerifyVenderID) ||
      UpperCase(pid) != FieldText(settings_.VerifyProductID)) {
    flags |= bridge::kVerifyVidPid;
  }
  if (bridge::FieldText(record_.manufacturer) != FieldText(settings_.VerifyStringA)) {
    flags |= bridge::kVerifyManufacturer;
  }
  if (bridge::FieldText(record_.product) != FieldText(settings_.VerifyStringB)) {
    flags |= bridge::kVerifyProduct;
  }
  if (settings_.EnCheckDiskName &&
      !bridge::InquiryMatches(path(), std::string(FieldText(settings_.DiskName)).c_str())) {
    flags |= bridge::kVerifyDiskName;
  }
  if (settings_.EnCheckHDDFwRev && controls_.vfHDDFWRevChk.Usable()) {
    const ChipType t = chip();
    const bool newFamily = t == 19 || t == 20 || t == 21 || t == 22 || InRange(t, 25, 28);
    if (!bridge::CheckDiskFirmwareRevision(
            path(), std::string(FieldText(settings_.HDDFwRev)).c_str(), newFamily)) {
      flags |= bridge::kVerifyDiskFirmware;
    }
  }
  if (flags == 0 && settings_.EnCheckVolLabel && controls_.vfVolLabelChk.Usable()) {
    if (!FindLetter(kLabelLetterTries, false)) {
      flags |= bridge::kVerifyNoDriveLetter;
    } else {
      char label[bridge::kVolumeLabelSize] = {};
      int kind = 0;
      (void)bridge::GetVolumeFileSystem(record_.driveLetter, label, &kind);
      if (bridge::FieldText(label) != FieldText(settings_.VolumeLabel)) {
        flags |= bridge::kVerifyVolumeLabel;
      }
    }
  }
  record_.verifyFlags = flags;
  if (flags != 0) Fail("Identity check");
  record_.identityCheckStatus = flags != 0 ? bridge::kStepFail : bridge::kStepPass;
  Post();
}

// Step 7. A speed the port query could not read (255) is not SuperSpeed.
void PortWorker::CheckUsb3() {
  if (!(settings_.EnUSB30Check || settings_.EnUSB31Gen2Check)) return;
  if (!RereadsSpeed(chip())) return;
  record_.usb3CheckStatus = bridge::kStepRunning;
  if (fail_) {
    record_.usb3CheckStatus = bridge::kStepSkipped;
    Post();
    return;
  }
  const int32_t speed = record_.usbSpeed;
  bool ok = true;
  if (settings_.EnUSB30Check && !bridge::IsSuperSpeed(speed)) ok = false;
  if (settings_.EnUSB31Gen2Check && speed != bridge::kUsbSpeedSuperPlus) ok = false;
  if (ok && chip() == 13) {
    ok = bridge::SetRegister5000Bit4(path()) && bridge::ReadRegister5008(path());
  }
  if (!ok) Fail("USB 3 check");
  record_.usb3CheckStatus = ok ? bridge::kStepPass : bridge::kStepFail;
  Post();
}

// Step 8.
void PortWorker::CheckFirmware() {
  if (!settings_.EnFWCheck) {
    record_.firmwareCheckStatus = bridge::kStepOff;
    Post();
    return;
  }
  record_.firmwareCheckStatus = bridge::kStepRunning;
  const bool ok =
      !fail_ && bridge::VerifyFirmwareWithFile(path(), settings_.FwFileName, chip(),
                                               bridge::RevisionOf(pass_.FirstChipTypeRev),
                                               settings_.EnCloneProduct != 0);
  if (!ok) Fail("Firmware check");
  record_.firmwareCheckStatus = ok ? bridge::kStepPass : bridge::kStepFail;
  Post();
}

// Step 12.4: the chip family's flow. `abandoned` says the flow stopped where
// the update steps are skipped altogether.
int PortWorker::RunChipFlow(bool& abandoned) {
  UpdateTarget target{path(), chip(), fw(), cfg(), image()};
  FlowInputs in{.config = config_, .settings = settings_, .options = options_};
  in.readPortSpeed = [this] {
    const std::string hub(bridge::FieldText(record_.hubName));
    record_.usbSpeed = bridge::GetPortSpeed(hub.c_str(), static_cast<uint32_t>(record_.hubPort));
    return record_.usbSpeed.load();
  };
  in.revision = bridge::RevisionOf(pass_.FirstChipTypeRev);
  in.spiFlashType = record_.spiFlashType;
  in.enPd = settings_.EnPD != 0;
  in.flashReady = flashReady_;
  if (workingCopy_) in.workingCopy = std::span<uint8_t>(workingCopy_->data(), workingCopy_->size());
  in.cloneProduct = settings_.EnCloneProduct != 0;
  in.hooks.relink = [this] { return Relink(ResetKind::Bridge); };
  in.hooks.post = [this] { Post(); };
  in.hooks.configRunning = [this] { record_.configurationStatus = bridge::kStepRunning; };
  in.standby = &standby_;
  const FlowResult result = RunUpdateFlow(target, in);
  abandoned = result == FlowResult::Abandoned;
  return result == FlowResult::Done ? 1 : 0;
}

// Step 12. Returns false when the update is left for step 15 (no progress
// for step 14).
bool PortWorker::CombinedUpdate() {
  standby_ = StandbyQuery{};
  if (fw()) {
    record_.firmwareStatus = bridge::kStepRunning;
    workingCopy_ = std::make_unique<platform::HeapBuffer>(kWorkingCopySize);
    if (!workingCopy_->valid()) {
      workingCopy_.reset();
      platform::MessageBox(kWorkingCopyMessage, "Error", platform::kMbOk | platform::kMbIconError);
      record_.firmwareStatus = bridge::kStepFail;
      Fail("Update");
      return false;
    }
    // The whole copy starts zeroed (HeapBuffer), then takes the file's bytes.
    const bridge::LoadedImage file = image();
    if (file.loaded()) {
      std::memcpy(workingCopy_->data(), file.data, std::min<size_t>(file.length, kWorkingCopySize));
    }
    Post();
  }
  if (cfg() && !InRange(chip(), 21, 24)) {
    record_.configurationStatus = bridge::kStepRunning;
    bridge::SetFieldText(record_.logSerial, FieldText(settings_.String3));
    PutIdentityDescriptors(chip(), settings_,
                           controls_.StrA2DiskStrChk.checked && controls_.StrA2DiskStrChk.visible,
                           config_.block);
  }
  bool abandoned = false;
  bool ok = RunChipFlow(abandoned) != 0;
  if (abandoned) {
    if (fw()) record_.firmwareStatus = bridge::kStepFail;
    if (cfg()) record_.configurationStatus = bridge::kStepFail;
    Fail("Update");
    return false;
  }
  // Step 12.5: a CLONE product takes its new identity only after a reset.
  if (ok && settings_.EnCloneProduct && !fail_ &&
      (record_.firmwareStatus != bridge::kStepOff ||
       record_.configurationStatus != bridge::kStepOff)) {
    ok = Relink(ResetKind::WriteBuffer);
    if (ok) {
      ok = RestoreStandby(path(), record_.configurationStatus != bridge::kStepOff,
                          options_.EnQVS871StandbyTime != 0, settings_.StandbyTimer, standby_) != 0;
    }
  }
  if (ok) {
    if (fw()) record_.firmwareStatus = bridge::kStepPass;
    if (cfg()) record_.configurationStatus = bridge::kStepPass;
  } else {
    if (fw()) record_.firmwareStatus = bridge::kStepFail;
    if (cfg()) record_.configurationStatus = bridge::kStepFail;
    Fail("Update");
  }
  Post();
  return true;
}

// Step 13.
void PortWorker::SeparateUpdate() {
  if (fw()) {
    record_.firmwareStatus = bridge::kStepRunning;
    const int ok = bridge::UpdateFirmwareByChipType(
        path(), chip(), bridge::FlashFamilyOf(options_.FlashType), image());
    if (!ok) Fail("Update");
    record_.firmwareStatus = ok ? bridge::kStepPass : bridge::kStepFail;
    Post();
  }
  // Off: the status stays as it is, 0, or the Pass of the erase box's erase,
  // which ran and must not be logged as not run.
  if (cfg()) {
    const bool signature = bridge::CheckConfigSignature(path(), chip()) != 0;
    record_.configurationStatus = bridge::kStepRunning;
    if (fail_) {
      record_.configurationStatus = bridge::kStepSkipped;
    } else {
      bridge::SetFieldText(record_.logSerial, FieldText(settings_.String3));
      const bool box = controls_.StrA2DiskStrChk.checked && controls_.StrA2DiskStrChk.visible;
      const int ok =
          WriteSeparateConfig(path(), chip(), signature, settings_, options_, box, config_);
      if (!ok) Fail("Update");
      record_.configurationStatus = ok ? bridge::kStepPass : bridge::kStepFail;
    }
    Post();
  } else {
    record_.configurationStatus = bridge::kStepOff;
  }
}

// Step 16.
void PortWorker::RelinkStep() {
  const ChipType t = chip();
  const bool update = fw() || cfg();
  std::optional<ResetKind> reset;
  if (settings_.MPPortReset && update && (t == 19 || t == 20)) {
    reset = ResetKind::Bridge;
  } else if (settings_.MPPortReset && !settings_.EnCloneProduct && update &&
             (t == 21 || t == 22 || t == 24 || InRange(t, 25, 28))) {
    reset = ResetKind::WriteBuffer;
  }
  if (!reset) {
    record_.relinkStatus = bridge::kStepSkipped;
  } else {
    record_.relinkStatus = bridge::kStepRunning;
    Post();
    record_.relinkStatus = Relink(*reset) ? bridge::kStepPass : bridge::kStepFail;
  }
  Post();
}

// Drive-letter search: `tries` times, 1000 ms before each.
bool PortWorker::FindLetter(int tries, bool traceMisses) {
  for (int attempt = 1; attempt <= tries; ++attempt) {
    if (traceMisses) platform::Sleep(kLetterPollMs);
    char letter = 0;
    if (disk::FindDriveLetter(path(), &letter)) {
      record_.driveLetter = letter;
      record_.letterFound = 1;
      return true;
    }
    if (traceMisses) {
      platform::DebugTrace("%d Port : GetDiskLetter Fail %d times!!\n", job_.slot, attempt);
    } else {
      platform::Sleep(kLetterPollMs);
    }
  }
  record_.letterFound = 0;
  return false;
}

// Step 18.
void PortWorker::Partition() {
  if (!(settings_.EnPartition && controls_.PartitionCheckBox.Usable())) {
    record_.partitionStatus = bridge::kStepOff;
    if (record_.driveLetter == 0) {
      char letter = 0;
      if (disk::FindDriveLetter(path(), &letter)) record_.driveLetter = letter;
    }
    return;
  }
  record_.partitionStatus = bridge::kStepRunning;
  if (fail_) {
    record_.partitionStatus = bridge::kStepSkipped;
    Post();
    return;
  }
  const int laid =
      disk::IsWindows2000() ? disk::WriteLegacyLayout(path()) : disk::CreateDiskLayout(path());
  if (!laid) {
    record_.letterFound = 0;
    record_.partitionStatus = bridge::kStepFail;
    Fail("Partition");
  } else if (FindLetter(kPartitionLetterTries, true)) {
    record_.partitionStatus = bridge::kStepPass;
  } else {
    record_.partitionStatus = bridge::kStepFail;
    Fail("Partition");
  }
  Post();
}

// Step 20.
void PortWorker::Format() {
  if (!(settings_.EnFormat && controls_.FormatCheckBox.Usable())) {
    record_.formatStatus = bridge::kStepOff;
    return;
  }
  record_.formatStatus = bridge::kStepRunning;
  record_.freeSpaceInRange = 0;
  const char letter = record_.driveLetter;
  if (fail_) {
    record_.formatStatus = bridge::kStepSkipped;
  } else if (letter == 0) {
    record_.formatStatus = bridge::kStepFail;
    Fail("Format");
  } else {
    const char root[4] = {letter, ':', '\\', '\0'};
    const int formatted = disk::FormatVolume(
        root, 1, std::string(FieldText(settings_.DiskLabel)).c_str(), controls_.FmtTypeComboBox,
        static_cast<uint32_t>(settings_.FmtSecPerClus));
    if (formatted != 0) {
      record_.formatStatus = bridge::kStepFail;
      Fail("Format");
    } else {
      record_.freeBytes = static_cast<int64_t>(bridge::GetDriveFreeSpace(path()));
      if (CheckFreeSpaceRange(options_, path(), settings_.FreeSpace, settings_.FreeSpaceRange)) {
        record_.formatStatus = bridge::kStepPass;
        record_.freeSpaceInRange = 1;
      } else {
        record_.formatStatus = bridge::kStepUnmatched;
        Fail("Format");
      }
      if (IsWindows7OrLater()) {
        for (int poll = 0; poll < kFormatPromptPolls && !disk::CloseFormatPrompt(); ++poll) {
          platform::Sleep(kFormatPromptPollMs);
        }
      }
    }
  }
  Post();
}

// Step 22.
void PortWorker::ReadWriteTest() {
  if (!(settings_.EnRWTest && controls_.RWTestCheckBox.Usable())) {
    record_.readWriteStatus = bridge::kStepOff;
    AddProgress(kProgressReadWrite);
    return;
  }
  record_.readWriteStatus = bridge::kStepRunning;
  const char letter = record_.driveLetter;
  if (fail_) {
    record_.readWriteStatus = bridge::kStepSkipped;
  } else if (letter == 0) {
    record_.readWriteStatus = bridge::kStepFail;
    Fail("R/W test");
  } else {
    (void)bridge::ReadCapacity10(path());
    const std::span<const uint8_t, bridge::kHexPageSize> pattern(pass_.pattern.pages[0]);
    float readSpeed = 0;
    float writeSpeed = 0;
    (void)RunReadWriteSpeedTest(letter, kWarmUpMB, pattern, &readSpeed, &writeSpeed);
    int32_t size = settings_.RWDataSize;
    // Every code above high speed takes the large test, an unknown one (255)
    // too: a port that may be fast is measured at the size it needs.
    if (record_.usbSpeed > bridge::kUsbSpeedHigh && size < kSuperSpeedTestMB) size = kSuperSpeedTestMB;
    int tested = 0;
    {
      platform::CriticalSectionHolder lock(disk::SpeedLock());
      tested = RunReadWriteSpeedTest(letter, size, pattern, &readSpeed, &writeSpeed);
      record_.readSpeed = readSpeed * settings_.PerfShift;
      record_.writeSpeed = writeSpeed * settings_.PerfShift;
    }
    for (int i = 0; i < kReadWriteFlushes; ++i) (void)bridge::FlushCacheExt(path());
    if (!tested) {
      record_.readWriteStatus = bridge::kStepFail;
      Fail("R/W test");
    } else {
      record_.freeBytes = static_cast<int64_t>(bridge::GetDriveFreeSpace(path()));
      record_.readWriteStatus = bridge::kStepPass;
      if (!CheckFreeSpaceRange(options_, path(), settings_.FreeSpace, settings_.FreeSpaceRange)) {
        record_.readWriteStatus = bridge::kStepUnmatched;
        Fail("R/W test");
      }
      // The limits are judged whatever the free space: too slow is a fail.
      if (settings_.USBReadPerformance >= 1 && settings_.USBWritePerformance >= 1 &&
          (record_.readSpeed < static_cast<float>(settings_.USBReadPerformance) ||
           record_.writeSpeed < static_cast<float>(settings_.USBWritePerformance))) {
        record_.readWriteStatus = bridge::kStepFail;
        Fail("R/W test");
      }
    }
  }
  Post();
  AddProgress(kProgressReadWrite);
}

std::string PortWorker::Destination() const {
  std::string destination = {static_cast<char>(record_.driveLetter), ':', '\\'};
  destination += FieldText(settings_.SwDstFolder);
  return destination;
}

// Step 23. After an earlier failure the copy is skipped (3), not failed.
void PortWorker::SoftwareCopy() {
  if (!(settings_.EnSWCopy && controls_.SWCopyChkBox.Usable())) {
    record_.softwareCopyStatus = bridge::kStepOff;
    AddProgress(kProgressCopy);
    return;
  }
  record_.softwareCopyStatus = bridge::kStepRunning;
  Post();
  if (fail_) {
    record_.softwareCopyStatus = bridge::kStepSkipped;
  } else if (record_.driveLetter != 0 &&
             CopySoftwareImage(FieldText(settings_.SwImgPath), Destination())) {
    record_.softwareCopyStatus = bridge::kStepPass;
    for (int i = 0; i < kCopyFlushes; ++i) (void)bridge::FlushCacheExt(path());
  } else {
    record_.softwareCopyStatus = bridge::kStepFail;
    Fail("Software copy");
  }
  Post();
  AddProgress(kProgressCopy);
}

// Step 24.
void PortWorker::FolderCompare() {
  if (!(settings_.EnFolderCompare && controls_.enFolderCPChk.Usable())) {
    record_.folderCompareStatus = bridge::kStepOff;
    AddProgress(kProgressCompare);
    return;
  }
  const std::string source = CompareSource(FieldText(settings_.SwImgPath));
  record_.folderCompareStatus = bridge::kStepRunning;
  Post();
  if (fail_) {
    record_.folderCompareStatus = bridge::kStepSkipped;
  } else {
    disk::FolderCounts counts{settings_.FolderCount, settings_.FileCount};
    const int ok =
        record_.driveLetter != 0 && disk::VerifyCopiedFolder(source.c_str(), Destination().c_str(),
                                                             settings_.bAdvenceCompare, counts);
    if (!ok) Fail("Folder compare");
    record_.folderCompareStatus = ok ? bridge::kStepPass : bridge::kStepFail;
  }
  Post();
  AddProgress(kProgressCompare);
}

// Step 25.
void PortWorker::End() {
  workingCopy_.reset();
  const int32_t passIndex = eppPass();
  if (typeC() && pass_.EppPowered && !fail_ && (passIndex == 0 || passIndex == 1)) {
    const std::string epp(bridge::FieldText(pass_.EppDevicePath));
    uint8_t shadow =
        pass_.EppGpioShadow.load() & static_cast<uint8_t>(~(kEppCc1Power | kEppCc2Power));
    pass_.EppGpioShadow = shadow;
    (void)bridge::WriteBridgeRegister(epp.c_str(), kEppGpioRegister, &shadow, 1);
    const auto delay = static_cast<uint32_t>(std::max(settings_.EPPPowerOffDelay, 0));
    platform::Sleep(delay);
    uint8_t info[bridge::kChipInfoLength] = {};
    if (bridge::ReadChipInfo(path(), info, sizeof info)) {
      platform::Sleep(delay);
      if (bridge::ReadChipInfo(path(), info, sizeof info)) {
        Fail("Power-off check");  // the product still answers without power
      }
    }
    shadow |= passIndex == 0 ? kEppCc1Power : kEppCc2Power;
    pass_.EppGpioShadow = shadow;
    (void)bridge::WriteBridgeRegister(epp.c_str(), kEppGpioRegister, &shadow, 1);
    platform::Sleep(kPowerOnSettleMs);
  }
  if (IsWindows7OrLater()) {
    for (int poll = 0; poll < kEndPromptPolls; ++poll) {
      (void)disk::CloseFormatPrompt();
      platform::Sleep(kEndPromptPollMs);
    }
  }
  for (int i = 0; i < kEndFlushes; ++i) (void)bridge::FlushCacheExt(path());
  const int32_t result = fail_ ? -1 : 1;
  record_.result = result;
  record_.finalResult = result;
  record_.progress = kProgressDone;
  Post();
}

void PortWorker::Run() {
  record_.result = 0;
  record_.finalResult = 0;
  record_.progress = kProgressStart;
  Post();

  if (settings_.EnLoopDebug && fw() && !EraseStep("Debug erase", false)) return End();
  if (controls_.cbEraseFlash.checked && eppPass() == 0 && !EraseStep("Erase", true)) return End();

  bool skipToConfigImage = false;
  if (typeC()) skipToConfigImage = !TypeCChecks();
  if (!skipToConfigImage) {
    if (RereadsSpeed(chip())) {
      const std::string hub(bridge::FieldText(record_.hubName));
      record_.usbSpeed = bridge::GetPortSpeed(hub.c_str(), static_cast<uint32_t>(record_.hubPort));
    }
    VerifyIdentity();
    CheckUsb3();
    CheckFirmware();
  }

  if (!fail_ && cfg()) {
    BuildEepromImage(path(), chip(), settings_, options_, config_.block, config_.page);
    if (SwitchesOffMultiSecOptions(chip(), options_)) pass_.MultiSecOptionsOff = true;
  }
  flashReady_ = bridge::PrepareSpiFlash(chip(), path(), image().length) != 0;

  const bool typeCTest = typeC() && (eppPass() == 1 || eppPass() == 2);
  bool reachedProgress = !typeCTest;
  if (!typeCTest && !fail_) {
    const ChipType t = chip();
    if (options_.EEPROMOnly == 0 && (t == 34 || t == 29 || flashReady_) && (fw() || cfg())) {
      reachedProgress = CombinedUpdate();
    } else {
      SeparateUpdate();
    }
  }
  if (reachedProgress) {
    AddProgress(kProgressUpdate);
    Post();
  }

  if ((typeC() && eppPass() == 0) || fail_) return End();

  RelinkStep();
  if (!fail_ && !settings_.MPPortReset && !record_.firmwareAccepted && InRange(chip(), 25, 28)) {
    (void)disk::RunDiskpartRescan();
    platform::Sleep(kRescanSettleMs);
  }
  Partition();
  AddProgress(kProgressPartition);
  Format();
  AddProgress(kProgressFormat);
  ReadWriteTest();
  SoftwareCopy();
  FolderCompare();
  End();
}

}  // namespace

int PortWorkerThread(std::unique_ptr<WorkerJob> job) {
  if (job && job->pass && job->slot >= 0 && job->slot < bridge::kPortCount) {
    PortWorker(*job).Run();
  }
  return 0;
}

}  // namespace station
