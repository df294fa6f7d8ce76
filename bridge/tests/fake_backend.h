// A device backend for the few answers the bench cannot give: every path
// opens, pass-through requests go to a function of the test, and the test
// sets the storage device numbers, disk geometry and volumes it needs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/device_io.h"

namespace bridge::testing {

class FakeBackend : public platform::Backend {
 public:
  // Answers one pass-through request: fill the data buffer, set ScsiStatus
  // and DataTransferLength; false makes the request itself fail.
  using ScsiAnswer = std::function<bool(platform::ScsiPassThroughDirect& request)>;

  struct Geometry {
    int64_t cylinders = 0;
    uint32_t tracksPerCylinder = 0;
    uint32_t sectorsPerTrack = 0;
    uint32_t bytesPerSector = 0;
  };

  ScsiAnswer scsi;
  std::map<std::string, platform::StorageDeviceNumber> deviceNumbers;  // by path
  std::map<std::string, Geometry> geometries;                          // by path
  std::map<char, platform::VolumeInfo> volumes;                        // by letter
  std::vector<std::string> unopenable;
  char systemDrive = 'C';
  std::vector<std::vector<uint8_t>> cdbs;  // every CDB received, in order

  platform::Handle OpenDevice(const char* path, uint32_t, uint32_t, uint32_t* error) override {
    for (const std::string& refused : unopenable) {
      if (refused == path) {
        *error = platform::kErrorFileNotFound;
        return platform::kInvalidHandle;
      }
    }
    return new FakeHandle(this, path);
  }

  void CloseDevice(platform::Handle handle) override { delete handle; }

  bool DeviceIoControl(platform::Handle handle, uint32_t code, const void*, uint32_t, void* out,
                       uint32_t outSize, uint32_t* returned, uint32_t* error) override {
    *returned = 0;
    const std::string& path = static_cast<FakeHandle*>(handle)->path;
    if (code == platform::kIoctlScsiPassThroughDirect) {
      auto& request = *static_cast<platform::ScsiPassThroughDirect*>(out);
      cdbs.emplace_back(request.Cdb, request.Cdb + request.CdbLength);
      if (!scsi || !scsi(request)) {
        *error = platform::kErrorIoDevice;
        return false;
      }
      *returned = outSize;
      return true;
    }
    if (code == platform::kIoctlStorageGetDeviceNumber) {
      const auto found = deviceNumbers.find(path);
      if (found == deviceNumbers.end() || outSize < sizeof(platform::StorageDeviceNumber)) {
        *error = platform::kErrorNotSupported;
        return false;
      }
      std::memcpy(out, &found->second, sizeof(found->second));
      *returned = sizeof(found->second);
      return true;
    }
    if (code == kIoctlDiskGetDriveGeometry) {
      const auto found = geometries.find(path);
      if (found == geometries.end() || outSize < kGeometrySize) {
        *error = platform::kErrorNotSupported;
        return false;
      }
      uint8_t record[kGeometrySize] = {};
      std::memcpy(record, &found->second.cylinders, 8);
      std::memcpy(record + 12, &found->second.tracksPerCylinder, 4);
      std::memcpy(record + 16, &found->second.sectorsPerTrack, 4);
      std::memcpy(record + 20, &found->second.bytesPerSector, 4);
      std::memcpy(out, record, kGeometrySize);
      *returned = kGeometrySize;
      return true;
    }
    *error = platform::kErrorNotSupported;
    return false;
  }

  uint32_t LogicalDrives() override {
    uint32_t mask = 0;
    for (const auto& [letter, info] : volumes) mask |= 1u << (letter - 'A');
    return mask;
  }

  bool GetVolume(char letter, platform::VolumeInfo* out) override {
    const auto found = volumes.find(letter);
    if (found == volumes.end()) return false;
    *out = found->second;
    return true;
  }

  char SystemDriveLetter() override { return systemDrive; }

  // A mounted volume of `fileSystem` on the disk `number`, reached as "\\.\X:".
  void AddVolume(char letter, uint32_t diskNumber, const char* fileSystem, uint64_t freeBytes) {
    platform::VolumeInfo info;
    info.driveType = platform::kDriveFixed;
    info.mounted = true;
    std::strncpy(info.fileSystem, fileSystem, sizeof(info.fileSystem) - 1);
    info.freeBytes = freeBytes;
    info.totalBytes = freeBytes * 2;
    volumes[letter] = info;
    deviceNumbers[std::string("\\\\.\\") + letter + ":"] = {platform::kFileDeviceDisk, diskNumber,
                                                           1};
  }

 private:
  // IOCTL_DISK_GET_DRIVE_GEOMETRY, as the system defines it.
  static constexpr uint32_t kIoctlDiskGetDriveGeometry = 0x70000;
  static constexpr uint32_t kGeometrySize = 24;

  struct FakeHandle : platform::HandleObject {
    FakeHandle(Backend* owner, std::string path) : HandleObject(owner), path(std::move(path)) {}
    std::string path;
  };
};

// Copies `bytes` into a data-in request's buffer and completes it GOOD.
inline bool AnswerData(platform::ScsiPassThroughDirect& request, const std::vector<uint8_t>& bytes) {
  const size_t n = std::min<size_t>(bytes.size(), request.DataTransferLength);
  if (n > 0) std::memcpy(request.DataBuffer, bytes.data(), n);
  request.DataTransferLength = static_cast<uint32_t>(n);
  request.ScsiStatus = platform::kScsiStatusGood;
  return true;
}

// Answers by CDB prefix, first matching rule wins: data-in replies, or a
// CHECK CONDITION for a rule without data. Unmatched commands fail.
struct ScsiRule {
  std::vector<uint8_t> cdbPrefix;
  std::optional<std::vector<uint8_t>> reply;  // nullopt: CHECK CONDITION
};

inline FakeBackend::ScsiAnswer AnswerByPrefix(std::vector<ScsiRule> rules) {
  return [rules = std::move(rules)](platform::ScsiPassThroughDirect& request) {
    for (const ScsiRule& rule : rules) {
      if (rule.cdbPrefix.size() > request.CdbLength ||
          !std::equal(rule.cdbPrefix.begin(), rule.cdbPrefix.end(), request.Cdb)) {
        continue;
      }
      if (!rule.reply) {
        request.DataTransferLength = 0;
        request.ScsiStatus = platform::kScsiStatusCheckCondition;
        return true;
      }
      return AnswerData(request, *rule.reply);
    }
    request.DataTransferLength = 0;
    request.ScsiStatus = platform::kScsiStatusCheckCondition;
    return true;
  };
}

}  // namespace bridge::testing
