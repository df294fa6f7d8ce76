// The station's picture of what is plugged in: one PortRecord per product
// position, filled by the USB tree walk and the device-list refresh, then
// owned by the port's worker for the length of a pass.
//
// Workers write their record while the window reads every record, so each
// scalar a worker writes during a pass is a SharedWord: same width and
// meaning as the plain field, but every load and store is atomic. The USB
// ids and strings, the paths and the firmware version text are written by
// the walk and the refresh before any worker runs, and rewritten during a
// pass by the re-find after a reset: that writes them under the record's
// identityLock, and a reader on another thread (the port rows, the detail
// window) takes the same lock, so it sees them all before or all after.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/device_io.h"

namespace bridge {

// A scalar shared between the worker that writes it and the window that reads
// it. Copying a record copies the value, not the atomic.
template <class T>
class SharedWord {
 public:
  constexpr SharedWord(T value = T{}) noexcept : value_(value) {}
  SharedWord(const SharedWord& other) noexcept : value_(other.load()) {}
  SharedWord& operator=(const SharedWord& other) noexcept {
    store(other.load());
    return *this;
  }
  SharedWord& operator=(T value) noexcept {
    store(value);
    return *this;
  }
  operator T() const noexcept { return load(); }
  T load() const noexcept { return value_.load(std::memory_order_acquire); }
  void store(T value) noexcept { value_.store(value, std::memory_order_release); }
  // Takes the value and leaves `value` in one step (a word one reader consumes).
  T exchange(T value) noexcept { return value_.exchange(value, std::memory_order_acq_rel); }

 private:
  std::atomic<T> value_;
  static_assert(std::atomic<T>::is_always_lock_free);
};
static_assert(sizeof(SharedWord<int32_t>) == sizeof(int32_t));
static_assert(sizeof(SharedWord<float>) == sizeof(float));

// The lock of one record's texts. Copying a record copies the values, never
// the lock: the copy has a lock of its own, and assigning keeps the target's.
class RecordLock {
 public:
  RecordLock() = default;
  RecordLock(const RecordLock&) noexcept {}
  RecordLock& operator=(const RecordLock&) noexcept { return *this; }
  void lock() const { mutex_.lock(); }
  void unlock() const { mutex_.unlock(); }

 private:
  mutable std::mutex mutex_;
};

// Status word of one production step.
enum StepStatus : int32_t {
  kStepFail = -1,       // ran and failed
  kStepOff = 0,         // switched off or not reached
  kStepPass = 1,        // ran and passed
  kStepRunning = 2,     // running
  kStepSkipped = 3,     // an earlier step of the port failed, or no relink needed
  kStepUnmatched = 4,   // ran, but the free space or capacity lies outside its range
};

// Identity checks that failed (bit set = failed).
enum VerifyFlags : uint8_t {
  kVerifyVidPid = 0x01,
  kVerifyManufacturer = 0x02,
  kVerifyProduct = 0x04,
  kVerifyDiskName = 0x08,
  kVerifyVolumeLabel = 0x10,
  kVerifyNoDriveLetter = 0x20,
  kVerifyDiskFirmware = 0x80,
};

inline constexpr size_t kStatusTextWidth = 12;
inline constexpr int32_t kFirstStatusWithText = kStepFail;
inline constexpr int32_t kLastStatusWithText = kStepUnmatched;
// Indexed by status + 1.
inline constexpr char kStatusTexts[6][kStatusTextWidth] = {
    "Fail", "----", "Pass", "----", "----", "Unmatched",
};

// The log's text for a status word; "" for a word that has none (below -1,
// or 5 and above).
const char* StatusText(int32_t status);

// Port speed codes (the USB speed field).
inline constexpr int32_t kUsbSpeedLow = 0;
inline constexpr int32_t kUsbSpeedFull = 1;
inline constexpr int32_t kUsbSpeedHigh = 2;
inline constexpr int32_t kUsbSpeedSuper = 3;
inline constexpr int32_t kUsbSpeedSuperPlus = 4;
inline constexpr int32_t kUsbSpeedUnknown = 255;

// SuperSpeed or faster; an unknown speed (255) is not.
constexpr bool IsSuperSpeed(int32_t speed) {
  return speed == kUsbSpeedSuper || speed == kUsbSpeedSuperPlus;
}

inline constexpr size_t kRecordTextSize = 80;
inline constexpr size_t kFirmwareVersionTextSize = 18;
inline constexpr size_t kRecordPathSize = 256;

struct PortRecord {
  int32_t inUse = 0;      // the slot holds a connected device
  int32_t present = 0;    // wanted for the pass: only these get a worker
  int32_t walkIndex = 0;  // the slot number the walk gave
  int32_t hubPort = 0;    // port number on its hub, the row label
  SharedWord<int32_t> usbSpeed;
  SharedWord<uint8_t> chipType;  // 0 = none
  uint8_t spiFlashType = 0;      // 255 = unknown
  uint16_t vid = 0;
  uint16_t pid = 0;
  char manufacturer[kRecordTextSize] = {};
  char usbSerial[kRecordTextSize] = {};
  char product[kRecordTextSize] = {};
  char logSerial[kRecordTextSize] = {};
  char firmwareVersion[kFirmwareVersionTextSize] = {};
  SharedWord<int32_t> firmwareAccepted;
  platform::Handle hubHandle = platform::kInvalidHandle;  // a tag only: closed after the walk
  char driverKey[kRecordTextSize] = {};
  char instanceId[kRecordTextSize] = {};  // lower case
  char devicePath[kRecordPathSize] = {};
  char hubName[kRecordPathSize] = {};
  SharedWord<char> driveLetter;  // 0 when none
  SharedWord<int32_t> capacityMB;
  SharedWord<int64_t> freeBytes;
  SharedWord<int32_t> letterFound;
  SharedWord<int32_t> freeSpaceInRange;
  SharedWord<int32_t> partitionStatus;
  SharedWord<int32_t> formatStatus;
  SharedWord<int32_t> readWriteStatus;
  SharedWord<int32_t> configurationStatus;
  SharedWord<int32_t> firmwareStatus;
  SharedWord<int32_t> relinkStatus;
  SharedWord<int32_t> softwareCopyStatus;
  SharedWord<int32_t> firmwareCheckStatus;
  SharedWord<int32_t> folderCompareStatus;
  SharedWord<int32_t> identityCheckStatus;
  SharedWord<int32_t> verifyFlags;  // VerifyFlags in the low byte
  SharedWord<int32_t> usb3CheckStatus;
  SharedWord<float> readSpeed;   // MB/s, speed factor applied
  SharedWord<float> writeSpeed;
  SharedWord<int32_t> result;       // 0 running, 1 pass, -1 fail
  SharedWord<int32_t> finalResult;  // copy of result, consumed by the yield count
  SharedWord<int32_t> progress;     // percent
  SharedWord<int32_t> foundAgain;
  uint32_t deviceInstance = 0;  // storage device node, for safe removal
  uint32_t parentInstance = 0;
  int32_t uasp = 0;  // the interface path is a "scsi" one
  // Guards vid, pid, the USB strings, driver key, instance id, device path,
  // firmware version text and device nodes while a worker may rewrite them.
  RecordLock identityLock;
};

inline constexpr int kPortCount = 16;

// The 16 records, one per product position. Slot n (1-based, as the walk
// numbers them) is records[n - 1].
struct PortTable {
  std::array<PortRecord, kPortCount> records;

  // Null for a slot number outside 1..16.
  PortRecord* slot(int n) {
    return n >= 1 && n <= kPortCount ? &records[static_cast<size_t>(n - 1)] : nullptr;
  }
  // Every record back to zero, as before each enumeration.
  void Clear();
};

// The record of the Type-C power-control device, kept apart from the table;
// it keeps its last copy until a walk finds the device again.
using EppDeviceRecord = PortRecord;

// The record's device path as one whole text, however a re-find rewrites it.
std::string DevicePathOf(const PortRecord& record);

// Field text up to its first NUL, never past the field.
template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
  const void* nul = std::memchr(field, '\0', N);
  return std::string_view(field, nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : N);
}

// Stores `text` cut to N - 1 characters, NUL-terminated, the rest zero.
// Returns false when the text had to be cut.
template <size_t N>
bool SetFieldText(char (&field)[N], std::string_view text) {
  const size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memset(field, 0, N);
  if (n != 0) std::memcpy(field, text.data(), n);
  return n == text.size();
}

}  // namespace bridge
