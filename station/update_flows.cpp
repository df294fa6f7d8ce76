#include "station/update_flows.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "bridge/chip_identification.h"
#include "bridge/df_flash_programming.h"
#include "bridge/ff04_flash_programming.h"
#include "bridge/firmware_update.h"
#include "bridge/identity_config.h"
#include "bridge/identity_record.h"
#include "bridge/image_crc.h"
#include "bridge/manufacturing_download.h"
#include "bridge/port_table.h"
#include "bridge/standby_timer.h"
#include "bridge/vendor_commands.h"
#include "platform/byte_order.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/heap_buffer.h"
#include "station/config_image.h"
#include "station/step_helpers.h"
#include "station/usb_string_descriptor.h"

namespace station {
namespace {

using bridge::ChipType;

constexpr uint8_t kEraseWholeFlash = 3;
constexpr uint8_t kEraseSector = 1;
constexpr uint32_t kEraseSettleMs = 500;

// The chip-information block: byte 6 the boot state, byte 7 the bank / layout.
constexpr uint32_t kChipInfoSize = 16;

bool IsEightBitDescriptorChip(ChipType chipType) { return chipType == 29 || chipType == 34; }

// The device's 512-byte configuration block, read for a configuration-only
// update.
constexpr uint32_t kDeviceConfigReadSize = 512;

// ---- ChipType 26.
constexpr uint32_t kQvs884LargeImageMin = 67072;  // longer than 67071 bytes
constexpr uint32_t kQvs884LowConfigAddress = 0xD000;
constexpr uint32_t kQvs884HighConfigAddress = 0x1D000;
constexpr int kReadyPolls = 50;
constexpr uint32_t kReadyPollMs = 100;
constexpr uint32_t kSecondBankImageOffset = 0xC600;
constexpr uint32_t kSecondBankFlashAddress = 0x10000;
constexpr uint32_t kSecondBankSize = 0x4000;
constexpr uint32_t kUnknownFlashChunk = 4096;
constexpr uint8_t kUnknownFlashType = 255;

// ---- ChipTypes 21-24.
constexpr uint32_t kBuffer1HeadSize = 0x1000;
constexpr size_t kCloneMarkOffset = 1072;
constexpr size_t kCloneMarkSize = 16;
constexpr size_t kSourceFlagsOffset = 1536;
constexpr size_t kInquiryVendorOffset = 1552;
constexpr size_t kInquiryProductOffset = 1560;
constexpr size_t kStringCOffset = 1578;
constexpr size_t kStringBOffset = 1610;
constexpr uint32_t kStandbyTemplateSize = 0x1000;
constexpr uint32_t kPageC3Size = 84;
constexpr size_t kPageC3Vid = 8;
constexpr size_t kPageC3Pid = 10;
constexpr size_t kPageC3Serial = 64;
constexpr int32_t kPageC3SerialLength = 20;
constexpr size_t kPowerPageEnabled = 11;
constexpr size_t kPowerPageTimer = 16;
constexpr uint32_t kTimerTicksPerMinute = 600;

int EraseFlash(const char* devicePath) {
  return bridge::WriteBridgeFlash(devicePath, 0, nullptr, 0, kEraseWholeFlash);
}

// Both update switches choose the defaults; the configuration alone keeps
// what the device holds.
bool ConfigOnly(const UpdateTarget& target) { return !target.writeFirmware && target.writeConfig; }

// A device configuration (256-byte page) that carries the maker's signature.
// One that lacks it (erased, never configured) has nothing to keep: merging
// it would write erased type bytes and no signature, so the defaults serve.
bool HoldsConfiguration(const uint8_t* page) { return page[254] == 'Q' && page[255] == 'V'; }

int SetStandby(const char* devicePath, int64_t minutes) {
  if (bridge::ModeSelectPowerCondition(devicePath, minutes, true)) return 1;
  return bridge::SetStandbyTimerVendor(devicePath,
                                       static_cast<uint32_t>(std::max<int64_t>(minutes, 0)), true);
}

template <size_t N>
void CopyField(char (&field)[N], const uint8_t* from) {
  std::memcpy(field, from, N);
}

// The device's own identity texts (buffer 1) into the settings; the flag
// byte tells which sources the device uses.
uint8_t TakeQvs87xTexts(const uint8_t (&head)[kBuffer1HeadSize], bool all,
                        SettingsBlock& settings) {
  const uint8_t flags = head[kSourceFlagsOffset];
  if (all || (flags & 0x01)) {
    CopyField(settings.InquiryVendor, head + kInquiryVendorOffset);
    CopyField(settings.InquiryProduct, head + kInquiryProductOffset);
  }
  if (all || (flags & 0x02)) {
    CopyField(settings.StringCText, head + kStringCOffset);
    CopyField(settings.StringBText, head + kStringBOffset);
  }
  return flags;
}

// The ids and serial number the device reports in INQUIRY page C3.
bool TakeQvs87xIds(const char* devicePath, SettingsBlock& settings) {
  uint8_t page[kPageC3Size] = {};
  if (!bridge::InquiryPageC3(devicePath, page, sizeof page)) return false;
  settings.VidValue = platform::GetBigEndian16(page + kPageC3Vid);
  settings.PidValue = platform::GetBigEndian16(page + kPageC3Pid);
  CopyField(settings.SerialText, page + kPageC3Serial);
  settings.SerialLength = kPageC3SerialLength;
  return true;
}

}  // namespace

int ReadQvs87xFirmware(const char* devicePath, bool cloneProduct, std::span<uint8_t> out) {
  if (out.size() < kWorkingCopySize) return 0;
  if (!cloneProduct) {
    return bridge::ReadFirmwareSingleBank(devicePath, 0, out.data(), kWorkingCopySize);
  }
  uint8_t head[kBuffer1HeadSize] = {};
  bool cloneMark = false;
  if (bridge::ScsiReadBuffer(devicePath, bridge::kBufferModeData, bridge::kBuffer1, 0, head,
                             sizeof head)) {
    const auto* field = reinterpret_cast<const char*>(head + kCloneMarkOffset);
    cloneMark = std::string_view(field, strnlen(field, kCloneMarkSize)).find("CLONE") !=
                std::string_view::npos;
  }
  return bridge::ReadFirmwareDualBank(devicePath, 0, out.data(), kWorkingCopySize, cloneMark);
}

int ReadQvs87xIdentity(const char* devicePath, SettingsBlock& settings,
                       Qvs87xSources& sources) {
  uint8_t head[kBuffer1HeadSize] = {};
  if (!bridge::ScsiReadBuffer(devicePath, bridge::kBufferModeData, bridge::kBuffer1, 0, head,
                              sizeof head)) {
    return 0;
  }
  const uint8_t flags = TakeQvs87xTexts(head, true, settings);
  sources.manuProd = (flags >> 1) & 1;
  sources.inquiry = flags & 1;
  return TakeQvs87xIds(devicePath, settings) ? 1 : 0;
}

void PutIdentityDescriptors(ChipType chipType, SettingsBlock& settings, bool diskStringBox,
                            ConfigBlock& block) {
  const int32_t* at = settings.OptionOffsets;
  // A product string the bridge would show empty becomes the bridge's own,
  // before its descriptor is written, so the source byte that now points at
  // the descriptor finds that text there.
  if (chipType >= 14 && chipType <= 18 &&
      IsStringUnset(FieldText(settings.StringB), at[8],
                    std::span<const uint8_t, kOptionBlockSize>(settings.OptionBlock))) {
    if (at[3] >= 0 && at[3] < static_cast<int32_t>(kConfigBlockSize)) block[at[3]] = 11;
    SetFieldText(settings.StringB, "USB to ATA/ATAPI Bridge");
  }
  const bool eightBit = IsEightBitDescriptorChip(chipType);
  const bool singleBytes = eightBit || settings.TableType == kEightBitTableType;
  const auto put = [&](std::string_view text, int32_t offset, int32_t maxChars) {
    // Only the characters that are written are cleared: a count from the
    // whole text would clear past the descriptor, into the next one.
    const int32_t chars = static_cast<int32_t>(
        std::min<size_t>(text.size(), static_cast<size_t>(std::max(maxChars, 0))));
    PutUsbStringDescriptor(text, maxChars, std::span(block), offset,
                           singleBytes ? chars : 2 * chars, eightBit, settings.TableType);
  };
  put(FieldText(settings.StringA), at[6], at[7]);
  put(FieldText(settings.StringB), at[8], at[9]);
  put(FieldText(settings.String3), at[10], at[11]);
  if (settings.TableType == 3 && diskStringBox) block[12] = '2';
}

int UpdateKeepHeaderFamily(const UpdateTarget& target, const ConfigImage& config) {
  return bridge::ProgramFirmwareKeepHeader(target.devicePath, target.writeConfig,
                                           target.writeFirmware, config.block.data(), target.image);
}

int UpdateDfImageFamily(const UpdateTarget& target, ConfigImage& config, SettingsBlock& settings,
                        const StationOptions& options, int32_t portSpeed) {
  const char* path = target.devicePath;
  (void)GetDefaultEepromConfig(target.chipType, config.block, config.page, target.writeFirmware,
                               target.image);
  if (target.writeConfig) {
    BuildEepromImage(path, target.chipType, settings, options, config.block, config.page);
  }
  const bool probeHigh = bridge::IsRegisterFDB0High(path) != 0;
  if (target.chipType == 13) (void)bridge::SendVendorCmd25(path);
  if (target.chipType == 19) {
    // The CRC-sealed layout has no option bytes: the revision text is not sent.
    return bridge::ProgramImageWithCrc(path, target.writeConfig, target.writeFirmware,
                                       config.page.data(), target.image);
  }
  const auto* revision = reinterpret_cast<const uint8_t*>(settings.ProductRevsion);
  if (portSpeed > bridge::kUsbSpeedHigh || probeHigh) {
    return bridge::ProgramImageWithHeader(path, target.writeConfig, target.writeFirmware,
                                          config.block.data(), revision, target.image);
  }
  return bridge::ProgramImageByPages(path, target.writeConfig, target.writeFirmware,
                                     config.block.data(), revision, target.image);
}

int UpdateQvs879(const UpdateTarget& target, ConfigImage& config, SettingsBlock& settings,
                 const StationOptions& options) {
  const char* path = target.devicePath;
  platform::HeapBuffer flash(0x10000);
  if (ConfigOnly(target) &&
      (!flash.valid() || !bridge::ReadFlashChunked(path, 0, flash.data(), 0x10000))) {
    return 0;
  }
  if (ConfigOnly(target) && HoldsConfiguration(flash.data() + 0xC000)) {
    (void)MergeDeviceConfigQVS879(config.block, config.page,
                                  std::span<const uint8_t>(flash.data(), flash.size()));
  } else {
    (void)GetDefaultEepromConfig(target.chipType, config.block, config.page, target.writeFirmware,
                                 target.image);
  }
  BuildEepromImage(path, target.chipType, settings, options, config.block, config.page);
  return bridge::ProgramImageWithCrcExt(path, target.writeConfig, target.writeFirmware,
                                        config.page.data(), target.image);
}

int UpdateQvs887Family(const UpdateTarget& target, ConfigImage& config, SettingsBlock& settings,
                       const StationOptions& options) {
  const char* path = target.devicePath;
  uint8_t info[kChipInfoSize] = {};
  const bool download =
      !target.mfgRunning && !(bridge::ReadChipInfo(path, info, kChipInfoSize) && info[6] != 0);
  const bool qvs887 = target.chipType == 25;
  uint8_t device[kDeviceConfigReadSize] = {};
  const uint32_t address = qvs887 ? bridge::kQvs887ConfigAddress : bridge::kQvs891ConfigAddress;
  if (ConfigOnly(target) && !bridge::ReadBridgeFlash(path, address, device, sizeof device)) return 0;
  if (ConfigOnly(target) && HoldsConfiguration(device)) {
    switch (target.chipType) {
      case 25:
        (void)MergeDeviceConfigQVS887(config.block, config.page, device);
        break;
      case 27:
        (void)MergeDeviceConfigQVS891(config.block, config.page, device);
        break;
      default:
        (void)MergeDeviceConfigQVS894(config.block, config.page, device);
        break;
    }
  } else {
    (void)GetDefaultEepromConfig(target.chipType, config.block, config.page, target.writeFirmware,
                                 target.image);
  }
  BuildEepromImage(path, target.chipType, settings, options, config.block, config.page);
  switch (target.chipType) {
    case 25:
      return bridge::UpdateFirmwareQVS887(path, 0, bridge::kQvs887UpdateLength, download,
                                          config.page.data(), target.writeConfig,
                                          target.writeFirmware, target.image);
    case 27:
      return bridge::UpdateFirmwareQVS891(path, 0, bridge::kQvs891UpdateLength, download,
                                          config.page.data(), target.writeConfig,
                                          target.writeFirmware, target.image);
    default:
      return bridge::UpdateFirmwareQVS894(path, 0, bridge::kQvs891UpdateLength, download,
                                          config.page.data(), target.writeConfig,
                                          target.writeFirmware, target.image);
  }
}

namespace {

// Polls the QVS884 until it reports ready for a large image: status 2 must
// answer, status 3 must say 1 within its polls, status 1 must answer.
int WaitQvs884Ready(const char* path) {
  uint8_t status = 0;
  if (!bridge::ReadBridgeStatus2(path, &status)) return 0;
  bool ready = false;
  for (int poll = 0; poll < kReadyPolls && !ready; ++poll) {
    if (poll != 0) platform::Sleep(kReadyPollMs);
    if (!bridge::ReadBridgeStatus3(path, &status)) return 0;
    ready = status == 1;
  }
  if (!ready) {
    platform::DebugTrace("QVS884: not ready after %d polls\n", kReadyPolls);
    return 0;
  }
  return bridge::ReadBridgeStatus1(path, &status);
}

// The second bank of a large QVS884 image: the image's 16 KB from 0xC600 at
// flash 0x10000, then both the bank and the first image read back.
int WriteQvs884SecondBank(const char* path, const bridge::LoadedImage& image, uint8_t flashType) {
  if (image.length < kSecondBankImageOffset + kSecondBankSize) return 0;
  const uint32_t sector =
      flashType == kUnknownFlashType ? kUnknownFlashChunk : bridge::FlashSectorSize(flashType);
  const uint8_t* bank = image.data + kSecondBankImageOffset;
  for (uint32_t done = 0; done < kSecondBankSize;) {
    // A sector larger than what is left must not carry bytes past the bank.
    const uint32_t chunk = std::min(sector, kSecondBankSize - done);
    if (!bridge::WaitFlashReady(path)) return 0;
    if (!bridge::WriteBridgeFlash(path, kSecondBankFlashAddress + done, bank + done, chunk,
                                  kEraseSector)) {
      return 0;
    }
    done += chunk;
  }
  platform::HeapBuffer back(kSecondBankSize);
  if (!back.valid() ||
      !bridge::ReadBridgeFlash(path, kSecondBankFlashAddress, back.data(), kSecondBankSize) ||
      std::memcmp(back.data(), bank, kSecondBankSize) != 0) {
    return 0;
  }
  // The first image as the file lays it out: flash 0xE00 is image 0, flash
  // 0x1000 is image 0x400; the bank header (image 0x200-0x3FF) is skipped.
  platform::HeapBuffer first(bridge::kQvs887ImageConfigBlock);
  if (!first.valid() || !bridge::ReadFlashChunked(path, 0x1000, first.data() + 0x400, 0xC000) ||
      !bridge::ReadFlashChunked(path, 0xE00, first.data(), 0x200) ||
      !bridge::ReadFlashChunked(path, 0, first.data() + 0x200, 0x200)) {
    return 0;
  }
  const uint32_t end = std::min<uint32_t>(image.length, bridge::kQvs887ImageConfigBlock);
  return std::memcmp(first.data(), image.data, std::min<uint32_t>(end, 0x200)) == 0 &&
                 (end <= 0x400 ||
                  std::memcmp(first.data() + 0x400, image.data + 0x400, end - 0x400) == 0)
             ? 1
             : 0;
}

}  // namespace

int UpdateQvs884(const UpdateTarget& target, ConfigImage& config, SettingsBlock& settings,
                 const StationOptions& options, uint8_t revision, uint8_t spiFlashType, bool enPd) {
  const char* path = target.devicePath;
  uint8_t info[kChipInfoSize] = {};
  if (!bridge::ReadChipInfo(path, info, kChipInfoSize)) return 0;
  bool download = true;
  bool large = false;
  uint32_t address = kQvs884LowConfigAddress;
  if (revision == 2) {
    if (info[7] != 0xFF) download = false;
    large = target.image.length >= kQvs884LargeImageMin;
    if (!large &&
        ((info[7] == 0 && target.writeFirmware) || (info[7] == 1 && !target.writeFirmware))) {
      address = kQvs884HighConfigAddress;
    }
  } else if (info[6] != 0) {
    download = false;
  }
  if (target.mfgRunning) download = false;
  uint8_t device[kDeviceConfigReadSize] = {};
  if (ConfigOnly(target) && !bridge::ReadBridgeFlash(path, address, device, sizeof device)) return 0;
  if (ConfigOnly(target) && HoldsConfiguration(device)) {
    (void)MergeDeviceConfigQVS884(config.block, config.page, device);
  } else {
    (void)GetDefaultEepromConfig(target.chipType, config.block, config.page, target.writeFirmware,
                                 target.image);
  }
  BuildEepromImage(path, target.chipType, settings, options, config.block, config.page);
  if (large && !download && (target.writeFirmware || target.writeConfig) &&
      !WaitQvs884Ready(path)) {
    return 0;
  }
  if (!bridge::UpdateFirmwareQVS884(path, 0, bridge::kQvs887UpdateLength, download,
                                    config.page.data(), target.writeConfig, target.writeFirmware,
                                    revision, address, enPd, target.image)) {
    return 0;
  }
  if (large && target.writeFirmware) return WriteQvs884SecondBank(path, target.image, spiFlashType);
  return 1;
}

int UpdateFlash48K(const UpdateTarget& target, const ConfigImage& config, uint8_t spiFlashType) {
  bool sst = false;
  if (spiFlashType == 4) {
    uint8_t id[3] = {};
    sst = bridge::QuerySpiFlash(target.devicePath, 0x9F, id, sizeof id) && id[0] == 0xBF &&
          id[1] == 0x25;
  }
  return bridge::ProgramFlash48K(target.devicePath, target.writeConfig, target.writeFirmware,
                                 config.block.data(), sst, target.image);
}

int UpdateIdentityImage(const UpdateTarget& target, const SettingsBlock& settings,
                        uint8_t flashType) {
  bridge::IdentityRecord identity;
  bridge::SetFieldText(identity.vid, FieldText(settings.VenderID));
  bridge::SetFieldText(identity.pid, FieldText(settings.ProductID));
  bridge::SetFieldText(identity.manufacturer, FieldText(settings.StringA));
  bridge::SetFieldText(identity.product, FieldText(settings.StringB));
  bridge::SetFieldText(identity.serial, FieldText(settings.String3));
  identity.makerStrings = settings.MapToHDName != 0;
  // The image of this family has no standby field: the timer is not sent.
  return bridge::ProgramIdentityConfig(target.devicePath, target.writeConfig, target.writeFirmware,
                                       identity, flashType, target.image);
}

// ---- ChipTypes 21-24.

namespace {

struct Qvs87xRun {
  const UpdateTarget& target;
  std::span<uint8_t> workingCopy;
  SettingsBlock& settings;
  bool clone;
  const Qvs87xHooks& hooks;
  StandbyQuery& standby;
  platform::HeapBuffer readImage{kWorkingCopySize};
  platform::HeapBuffer standbyPacket{kStandbyTemplateSize};
  bool rom = true;
  bool version2 = false;
  int standbyResult = 1;
  bool recordWanted = false;

  const char* path() const { return target.devicePath; }

  void FillIdentity(uint8_t* image, int firstFlag, int secondFlag, bool firstBankOnly) {
    bridge::FillImageIdentity(image, FieldText(settings.InquiryVendor),
                              FieldText(settings.InquiryProduct), FieldText(settings.StringCText),
                              FieldText(settings.StringBText), firstFlag, secondFlag,
                              firstBankOnly);
  }

  // Erase, settle and relink; the flash then holds nothing, as a boot ROM.
  bool EraseAndRelink() {
    if (!EraseFlash(path())) return false;
    platform::Sleep(kEraseSettleMs);
    if (!hooks.relink || !hooks.relink()) return false;
    if (hooks.post) hooks.post();
    rom = true;
    return true;
  }

  void SetStandbyFromSettings() {
    if (!SetStandby(path(), settings.StandbyTimer)) standbyResult = 0;
  }

  bool ReadBuffer1(uint8_t (&head)[kBuffer1HeadSize]) {
    return bridge::ScsiReadBuffer(path(), bridge::kBufferModeData, bridge::kBuffer1, 0, head,
                                  sizeof head) != 0;
  }

  int Update(bool useWorkingCopy) {
    const std::span<const uint8_t> first =
        useWorkingCopy ? std::span<const uint8_t>(workingCopy) : std::span<const uint8_t>();
    return bridge::UpdateFirmwareQVS87x(
        path(), 0, bridge::kQvs87xUpdateLength, rom, useWorkingCopy, first,
        std::span<const uint8_t>(standbyPacket.data(), standbyPacket.size()),
        std::span<const uint8_t>(readImage.data(), readImage.size()));
  }

  int WriteRecord() {
    uint8_t record[bridge::kIdentityRecordSize];
    bridge::BuildIdentityRecord(record, FieldText(settings.SerialText), settings.SerialLength,
                                bridge::CurrentIdentityStamp());
    return bridge::WriteIdentityRecord(path(), settings.VidValue, settings.PidValue, record);
  }

  FlowResult FirmwareAndConfig() {
    if (hooks.configRunning) hooks.configRunning();
    if (hooks.post) hooks.post();
    if (clone && !rom && !version2 && !EraseAndRelink()) return FlowResult::Abandoned;
    FillIdentity(workingCopy.data(), settings.EnManuProdStrSourceCtl,
                 settings.EnInquiryStrSourceCtl, clone);
    if (rom || version2) {
      bridge::StampBankHeaders(workingCopy.data());
      if (!clone) bridge::BuildStandbyPacket(standbyPacket.data(), settings.StandbyTimer, true);
    } else {
      SetStandbyFromSettings();
    }
    return Update(true) ? FlowResult::Done : FlowResult::Failed;
  }

  FlowResult ConfigOnly() {
    if (hooks.configRunning) hooks.configRunning();
    if (hooks.post) hooks.post();
    if (rom) return FlowResult::Failed;
    if (!ReadQvs87xFirmware(path(), clone, std::span<uint8_t>(readImage.data(), readImage.size()))) {
      return FlowResult::Failed;
    }
    FillIdentity(readImage.data(), settings.EnManuProdStrSourceCtl, settings.EnInquiryStrSourceCtl,
                 clone);
    if (!clone) {
      SetStandbyFromSettings();
    } else if (!EraseAndRelink()) {
      return FlowResult::Abandoned;
    }
    bridge::StampBankHeaders(readImage.data());
    return Update(false) ? FlowResult::Done : FlowResult::Failed;
  }

  uint8_t TakeDeviceTexts(const uint8_t (&head)[kBuffer1HeadSize], bool all) {
    return TakeQvs87xTexts(head, all, settings);
  }

  void TakeDeviceIds() {
    if (TakeQvs87xIds(path(), settings)) recordWanted = true;
  }

  FlowResult FirmwareOnly() {
    const bool fresh = !rom && !version2;
    if (fresh) {
      uint8_t head[kBuffer1HeadSize] = {};
      if (ReadBuffer1(head)) {
        const uint8_t flags = TakeDeviceTexts(head, !clone);
        FillIdentity(workingCopy.data(), (flags >> 1) & 1, flags & 1, clone);
        if (clone) TakeDeviceIds();
      }
    }
    if ((rom || version2) && !clone) {
      bridge::StampBankHeaders(workingCopy.data());
      bridge::BuildStandbyPacket(standbyPacket.data(), 0, true);
    }
    if (clone && fresh) {
      uint8_t page[bridge::kPowerConditionPageSize] = {};
      // Only a state the device reported is restored later.
      if (bridge::ModeSensePowerCondition(path(), page, sizeof page)) {
        standby.queried = true;
        standby.enabled = page[kPowerPageEnabled] != 0;
        standby.minutes = platform::GetBigEndian32(page + kPowerPageTimer) / kTimerTicksPerMinute;
      }
      if (!EraseAndRelink()) return FlowResult::Abandoned;
    }
    if (clone && (rom || version2)) bridge::StampBankHeaders(workingCopy.data());
    return Update(true) ? FlowResult::Done : FlowResult::Failed;
  }
};

}  // namespace

FlowResult UpdateQvs87x(const UpdateTarget& target, std::span<uint8_t> workingCopy,
                        SettingsBlock& settings, bool cloneProduct, const Qvs87xHooks& hooks,
                        StandbyQuery& standby) {
  if (target.writeFirmware && workingCopy.size() < kWorkingCopySize) return FlowResult::Failed;
  Qvs87xRun run{target, workingCopy, settings, cloneProduct, hooks, standby};
  if (!run.readImage.valid() || !run.standbyPacket.valid()) return FlowResult::Failed;
  uint8_t info[kChipInfoSize] = {};
  run.rom = !(bridge::ReadChipInfo(target.devicePath, info, kChipInfoSize) && info[6] != 1);
  run.version2 = bridge::IsChipInfoVersion2(target.devicePath) != 0;

  FlowResult result = FlowResult::Done;
  if (target.writeFirmware && target.writeConfig) {
    result = run.FirmwareAndConfig();
  } else if (target.writeConfig) {
    result = run.ConfigOnly();
  } else if (target.writeFirmware) {
    result = run.FirmwareOnly();
  }
  if (result == FlowResult::Abandoned) return result;
  int record = 1;
  if (target.writeConfig || run.recordWanted) record = run.WriteRecord();
  return result == FlowResult::Done && record && run.standbyResult ? FlowResult::Done
                                                                   : FlowResult::Failed;
}

FlowResult RunUpdateFlow(const UpdateTarget& target, FlowInputs& in) {
  const auto done = [](int ok) { return ok ? FlowResult::Done : FlowResult::Failed; };
  const ChipType t = target.chipType;
  if (t == 9) return done(UpdateKeepHeaderFamily(target, in.config));
  if (t == 11 || t == 12 || t == 13 || t == 19) {
    const int32_t speed = in.readPortSpeed ? in.readPortSpeed() : 0;
    return done(UpdateDfImageFamily(target, in.config, in.settings, in.options, speed));
  }
  if (t == 20) return done(UpdateQvs879(target, in.config, in.settings, in.options));
  if (t >= 21 && t <= 24) {
    StandbyQuery unused;
    return UpdateQvs87x(target, in.workingCopy, in.settings, in.cloneProduct, in.hooks,
                        in.standby ? *in.standby : unused);
  }
  if (t == 25 || t == 27 || t == 28) {
    return done(UpdateQvs887Family(target, in.config, in.settings, in.options));
  }
  if (t == 26) {
    return done(UpdateQvs884(target, in.config, in.settings, in.options, in.revision,
                             in.spiFlashType, in.enPd));
  }
  if (in.flashReady) return done(UpdateFlash48K(target, in.config, in.spiFlashType));
  return done(UpdateIdentityImage(target, in.settings, in.options.FlashType));
}

int RestoreStandby(const char* devicePath, bool configWritten, bool standbySwitch,
                   int32_t standbyTimer, const StandbyQuery& standby) {
  if (configWritten && standbySwitch) {
    return bridge::ModeSelectPowerCondition(devicePath, standbyTimer, true);
  }
  if (standby.queried) {
    return bridge::ModeSelectPowerCondition(devicePath, standby.enabled ? standby.minutes : 0,
                                            standby.enabled);
  }
  return 1;
}

}  // namespace station
