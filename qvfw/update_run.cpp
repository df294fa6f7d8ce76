#include "qvfw/update_run.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "bridge/chip_identification.h"
#include "bridge/ff04_flash_programming.h"
#include "bridge/flash_detection.h"
#include "bridge/identity_config.h"
#include "bridge/manufacturing_download.h"
#include "bridge/vendor_commands.h"
#include "bridge/usb_tree.h"
#include "platform/heap_buffer.h"
#include "qvfw/library_state.h"
#include "station/firmware_file_load.h"
#include "station/separate_update.h"
#include "station/update_flows.h"

namespace qvfw {

namespace {

// The 1 KB family after QV_UpdateMFGOnly: its MFG firmware takes images
// (the buffer reads the 1 KB state) while the chip information still shows
// no product firmware.
bool ManufacturingFirmwareRuns(const char* path, bridge::ChipType chip) {
  if (chip < 25 || chip > 28) return false;
  bridge::BufferDescriptor descriptor;
  uint8_t info[bridge::kChipInfoLength] = {};
  return bridge::ReadBufferDescriptor(path, bridge::kBuffer0, &descriptor) &&
         descriptor.state == bridge::kState1KUnits &&
         bridge::ReadChipInfo(path, info, sizeof info) && info[6] == 0;
}

// The identity record of the family that keeps its identity in the 64 KB
// image carries no INQUIRY texts: the write starts from an image (the
// firmware file, or what the device holds) that has them in both fields,
// vendor and product each blank-filled.
bool ImageWithInquiryTexts(const char* path, const station::SettingsBlock& s,
                           const station::FirmwareImage& file, bool firmware,
                           std::vector<uint8_t>& image) {
  image.assign(bridge::kIdentityImageSize, 0xFF);
  if (firmware) {
    std::memcpy(image.data(), file.data(), std::min<size_t>(file.length(), image.size()));
  } else if (!bridge::FlashCmd05(path) ||
             !bridge::FlashRead32(path, 0, image.data(), bridge::kIdentityImageSize)) {
    return false;
  }
  const std::string_view vendor = station::FieldText(s.InquiryVendor);
  const std::string_view product = station::FieldText(s.InquiryProduct);
  for (const uint32_t at : {bridge::kImageInquiry1, bridge::kImageInquiry2}) {
    uint8_t* field = image.data() + at;
    std::memset(field, ' ', bridge::kInquiryFieldSize);
    std::memcpy(field, vendor.data(), std::min(vendor.size(), bridge::kInquiryVendorSize));
    std::memcpy(field + bridge::kInquiryVendorSize, product.data(),
                std::min(product.size(), bridge::kInquiryProductSize));
  }
  return true;
}

}  // namespace

int RunUpdate(const ListedDevice& device, const UpdateRequest& request) {
  const char* path = device.path.c_str();
  const uint16_t identification = bridge::IdentifyChipTypeAndRevision(path);
  const bridge::ChipType chip = identification & 0xFF;
  if (chip == bridge::kChipTypeNone || (request.clone && !IsQvs87x(chip))) return 0;

  std::optional<UpdateSettings> settings;
  if (request.settings != nullptr) {
    settings = *request.settings;
  } else if (request.identity) {
    const std::optional<SettingEntry> entry = SettingOf(path);
    if (!entry) return 0;
    settings = SettingsForEntry(*entry, device, chip);
    if (!settings) return 0;
  } else {
    settings.emplace();
    settings->settings.StandbyTimer = -1;
  }
  station::SettingsBlock& s = settings->settings;
  const station::StationOptions& options = settings->options;

  station::FirmwareImage file;
  if (request.firmware && request.image.empty()) {
    std::string fileName;
    bool cloneMode = false;
    {
      LibraryState& state = State();
      std::lock_guard lock(state.mutex);
      fileName = state.firmwareFile;
      cloneMode = state.cloneProduct;
    }
    if (fileName.empty() || station::LoadFirmwareFile(fileName.c_str(), request.clone || cloneMode,
                                                      file) != station::FirmwareLoad::kLoaded) {
      return 0;
    }
  }

  station::UpdateTarget target{path, chip, request.firmware, request.identity, file.view()};
  target.mfgRunning = ManufacturingFirmwareRuns(path, chip);
  station::ConfigImage config;
  std::memcpy(config.block.data(), s.OptionBlock, config.block.size());
  station::FlowInputs in{.config = config, .settings = s, .options = options};
  in.readPortSpeed = [&device] {
    return bridge::GetPortSpeed(device.hubName.c_str(), static_cast<uint32_t>(device.hubPort));
  };
  in.revision = bridge::RevisionOf(identification);
  in.spiFlashType = static_cast<uint8_t>(bridge::GetSpiFlashType(chip, path));
  in.cloneProduct = request.clone;
  station::StandbyQuery standby;
  in.standby = &standby;

  if (IsQvs87x(chip)) {
    // The flow writes the identity into its own zero-filled copy.
    platform::HeapBuffer copy(station::kWorkingCopySize);
    if (!copy.valid()) return 0;
    const std::span<const uint8_t> source =
        !request.image.empty() ? request.image
                               : std::span<const uint8_t>(file.data(), file.length());
    if (!source.empty()) {
      std::memcpy(copy.data(), source.data(), std::min(source.size(), copy.size()));
    }
    in.workingCopy = std::span<uint8_t>(copy.data(), copy.size());
    // No relink inside an entry: a product still running its firmware must
    // be erased and reset by the caller before a clone write.
    return station::RunUpdateFlow(target, in) == station::FlowResult::Done ? 1 : 0;
  }

  if (request.identity) {
    station::BuildEepromImage(path, chip, s, options, config.block, config.page);
  }
  in.flashReady = bridge::PrepareSpiFlash(chip, path, file.length()) != 0;
  const bool mapToDiskString = s.MapToHDName != 0;
  if (chip == 34 || chip == 29 || in.flashReady) {
    if (request.identity) station::PutIdentityDescriptors(chip, s, mapToDiskString, config.block);
    std::vector<uint8_t> image;
    if (KeepsIdentityImage(chip) && request.identity && !station::FieldText(s.InquiryVendor).empty()) {
      if (!ImageWithInquiryTexts(path, s, file, request.firmware, image)) return 0;
      target.image = bridge::LoadedImage{image.data(), static_cast<uint32_t>(image.size())};
      target.writeFirmware = true;  // the flow writes that image
    }
    return station::RunUpdateFlow(target, in) == station::FlowResult::Done ? 1 : 0;
  }
  if (request.firmware &&
      !bridge::UpdateFirmwareByChipType(path, chip, bridge::FlashFamilyOf(options.FlashType),
                                        file.view())) {
    return 0;
  }
  if (!request.identity) return 1;
  const bool signature = bridge::CheckConfigSignature(path, chip) != 0;
  return station::WriteSeparateConfig(path, chip, signature, s, options, mapToDiskString, config);
}

}  // namespace qvfw
