// What the port workers of a pass share, kept by the station (the main
// window's members in place of the window itself): the port table, the
// storage entries the re-find rebuilds, the relink counters, the loaded
// firmware file, the read/write test pattern, the first chip's
// identification and the Type-C power-control members.
//
// The user-interface thread fills it before any worker starts and reads it
// after they have ended; while workers run, each writes only its own port
// record, and the storage entries only under the device lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "bridge/firmware_file_check.h"
#include "bridge/loaded_image.h"
#include "bridge/port_table.h"
#include "bridge/storage_enumeration.h"
#include "disk/device_lock.h"
#include "platform/heap_buffer.h"
#include "station/settings_block.h"

namespace station {

// The firmware file of a pass: a 256 KB block and the byte count the file
// filled. The pass allocates it before the workers start and releases it
// after they have ended; workers only read it.
inline constexpr uint32_t kFirmwareImageSize = 0x40000;

class FirmwareImage {
 public:
  // A zeroed 256 KB block, length 0; false when the memory cannot be had.
  [[nodiscard]] bool Allocate() {
    buffer_ = std::make_unique<platform::HeapBuffer>(kFirmwareImageSize);
    length_ = 0;
    if (buffer_->valid()) return true;
    buffer_.reset();
    return false;
  }
  void Release() {
    buffer_.reset();
    length_ = 0;
  }
  bool allocated() const { return buffer_ != nullptr; }
  uint8_t* data() { return buffer_ ? buffer_->data() : nullptr; }
  const uint8_t* data() const { return buffer_ ? buffer_->data() : nullptr; }
  uint32_t length() const { return length_; }
  // Clamped to the block.
  void SetLength(uint32_t length) {
    length_ = allocated() ? (length < kFirmwareImageSize ? length : kFirmwareImageSize) : 0;
  }
  // The image as the flash routines take it; empty when nothing is loaded.
  bridge::LoadedImage view() const { return {data(), length_}; }

 private:
  std::unique_ptr<platform::HeapBuffer> buffer_;
  uint32_t length_ = 0;
};

// The two 64 KB pages of the read/write test pattern, loaded by the first
// pass that runs the test and kept for the life of the program.
struct PatternPages {
  std::array<std::array<uint8_t, bridge::kHexPageSize>, 2> pages{};
  bool loaded = false;
};

inline constexpr size_t kEppDevicePathSize = 256;

struct PassState {
  bridge::PortTable ports;

  // The storage interfaces of the last enumeration; the re-find rebuilds
  // them under the device lock.
  std::array<bridge::StorageDeviceEntry, bridge::kMaxStorageEntries> storageEntries{};
  int32_t storageEntryCount = 0;

  // Both set to the number of present ports before any worker starts. A
  // worker takes one off RelinkIdleCount (under the device lock) before its
  // reset and gives it back after its re-find; it leaves its relink only
  // when the two are equal again.
  std::atomic<int32_t> PresentDeviceCount{0};
  std::atomic<int32_t> RelinkIdleCount{0};

  FirmwareImage firmwareImage;
  PatternPages pattern;

  // ChipType (low byte) and revision or configuration type (high byte) of
  // the first identified port.
  uint16_t FirstChipTypeRev = 0;

  // The settings kept outside the settings block, read in place.
  StationOptions options;
  // Set by a worker whose chip does not take EnMultiSec and EnOver2TBMulLun
  // together; the pass switches both off once its workers have ended, as
  // the workers read the options in place while they run.
  std::atomic<bool> MultiSecOptionsOff{false};

  // Type-C power-control mode. The pass index and the device members do not
  // change while workers run; the CC1 port and the GPIO shadow are written
  // by the worker of the single product such a pass has.
  int32_t EppPassIndex = 0;  // 0 CC1 firmware update, 1 CC1 test, 2 CC2 test
  std::atomic<int32_t> EppCc1Port{0};
  std::atomic<uint8_t> EppGpioShadow{0};
  int32_t EppPowered = 0;
  char EppDevicePath[kEppDevicePathSize] = {};
};

}  // namespace station
