// The disk behind a device: capacity, IDENTIFY, INQUIRY, revision, drive
// letter, write protect, FORMAT UNIT, partitioning, the format routes, the
// combined calls and the read/write test.
#include <algorithm>
#include <cstring>
#include <string>

#include "bridge/block_commands.h"
#include "bridge/chip_identification.h"
#include "bridge/device_queries.h"
#include "bridge/storage_enumeration.h"
#include "bridge/ufs_commands.h"
#include "bridge/vendor_commands.h"
#include "disk/device_lock.h"
#include "disk/format_route_table.h"
#include "disk/format_routes.h"
#include "disk/gpt_layout.h"
#include "disk/os_version_tests.h"
#include "disk/partition_layout.h"
#include "platform/clock.h"
#include "platform/device_setup.h"
#include "qvfw/device_call.h"
#include "qvfw/entry_trace.h"
#include "qvfw/qvfw_api.h"
#include "qvfw/volume_rw_test.h"
#include "station/safe_removal.h"

namespace qvfw {
namespace {

// How long a new volume may take to show after a partition, in polls.
constexpr int kVolumePolls = 60;
constexpr uint32_t kVolumePollMs = 1000;
constexpr int kFormatRetriesPerDevice = 5;
constexpr uint32_t kIdentifyRevisionOffset = 46;  // words 23-26
constexpr uint32_t kIdentifyRevisionLength = 8;
constexpr uint32_t kInquiryRevisionOffset = 32;
constexpr uint32_t kInquiryRevisionLength = 4;
constexpr uint32_t kMaxInquiryLength = 255;

bool IsFlag(int value) { return value == 0 || value == 1; }

// The label and file-system arguments of the format entries.
bool FormatArguments(const char* label, int fileSystem, int allocationUnit, int quick) {
  return FitsCapacity(label, kTextCapacity) && fileSystem >= kFileSystemNtfs &&
         fileSystem <= kFileSystemExfat && allocationUnit >= 0 && IsFlag(quick);
}

std::string RevisionFromIdentify(const uint8_t* identify) {
  char text[kIdentifyRevisionLength + 1] = {};
  bridge::CopyIdentifyString(identify, text, kIdentifyRevisionOffset, kIdentifyRevisionLength);
  return text;
}

std::string Trimmed(const uint8_t* bytes, size_t length) {
  std::string text(reinterpret_cast<const char*>(bytes), length);
  const size_t end = text.find_last_not_of(" \0", std::string::npos, 2);
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

bool IsUfsProduct(const std::string& path) {
  bridge::UfsState state;
  return bridge::ReadUfsState(path.c_str(), &state) != 0;
}

int Partition(const std::string& path, int gpt) {
  if (gpt == 1) return disk::CreateGptLayout(path.c_str());
  return disk::IsWindows2000() ? disk::WriteLegacyLayout(path.c_str())
                               : disk::CreateDiskLayout(path.c_str());
}

// The product volume's letter, waiting for a volume that is still arriving.
char WaitForLetter(const std::string& path, int polls) {
  for (int poll = 0;; ++poll) {
    char letter = 0;
    if (disk::FindDriveLetter(path.c_str(), &letter)) return letter;
    if (poll + 1 >= polls) return 0;
    platform::Sleep(kVolumePollMs);
  }
}

// The format retry bound is the library's to set; an entry called before
// the setting table was emptied still gets one device's worth of tries.
void EnsureFormatRetries() {
  int expected = 0;
  g_nHDDAccessRetry.compare_exchange_strong(expected, kFormatRetriesPerDevice);
}

int Format(const std::string& path, disk::FormatRoute route, const char* label, int fileSystem,
           int allocationUnit, int quick, int polls) {
  const char letter = WaitForLetter(path, polls);
  if (letter == 0) return 0;
  EnsureFormatRetries();
  const char root[] = {letter, ':', '\\', '\0'};
  return disk::FormatVolumeByRoute(root, route, quick, label, fileSystem,
                                   static_cast<uint32_t>(allocationUnit)) == disk::kFormatOk
             ? 1
             : 0;
}

int FormatEntry(const char* path, disk::FormatRoute route, const char* label, int fileSystem,
                int allocationUnit, int quick) {
  if (!FormatArguments(label, fileSystem, allocationUnit, quick)) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    return Format(d.path, route, label, fileSystem, allocationUnit, quick, 1);
  });
}

int PartitionAndFormat(const char* path, int gpt, int gpt2, disk::FormatRoute route,
                       const char* label, int fileSystem, int allocationUnit, int quick) {
  if (!IsFlag(gpt) || gpt2 != gpt || !FormatArguments(label, fileSystem, allocationUnit, quick)) {
    return 0;
  }
  return OnDevice(path, [&](const ListedDevice& d) {
    return Partition(d.path, gpt) &&
                   Format(d.path, route, label, fileSystem, allocationUnit, quick, kVolumePolls)
               ? 1
               : 0;
  });
}

}  // namespace
}  // namespace qvfw

using qvfw::ListedDevice;
using qvfw::OnDevice;

extern "C" {

int QV_GetDiskCapacity(const char* path, uint64_t* megabytes) {
  QV_TRACE(path, megabytes);
  if (megabytes == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    const uint64_t mb =
        bridge::GetDiskCapacityMB(d.path.c_str(), bridge::IdentifyChipType(d.path.c_str()));
    if (mb == 0) return 0;
    *megabytes = mb;
    return 1;
  });
}

int QV_GetDiskInfo(const char* path, uint8_t* identify) {
  QV_TRACE(path, identify);
  if (identify == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    uint8_t data[qvfw::kIdentifySize] = {};
    const bool sat = bridge::UsesSatIdentify(bridge::IdentifyChipType(d.path.c_str()));
    if (!bridge::IdentifyDevice(d.path.c_str(), data, sat ? 1 : 0)) return 0;
    std::memcpy(identify, data, sizeof data);
    return 1;
  });
}

int QV_Inquiry(const char* path, uint8_t* buffer, int length, int* available) {
  QV_TRACE(path, buffer, length, available);
  if (buffer == nullptr || available == nullptr || length <= 0 ||
      static_cast<uint32_t>(length) > qvfw::kMaxInquiryLength) {
    return 0;
  }
  return OnDevice(path, [&](const ListedDevice& d) {
    uint8_t data[qvfw::kMaxInquiryLength] = {};
    const uint32_t asked = static_cast<uint32_t>(length);
    if (!bridge::Inquiry(d.path.c_str(), data, asked)) return 0;
    // The additional length says how much the device has; what fits the
    // buffer of that is valid.
    const uint32_t has = asked >= 5 ? data[4] + 5u : asked;
    const uint32_t valid = std::min(asked, has);
    std::memcpy(buffer, data, valid);
    *available = static_cast<int>(has);
    return static_cast<int>(valid);
  });
}

int QV_GetDiskFWRevbySCSICmd(const char* path, char* text) {
  QV_TRACE(path, text);
  if (text == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    uint8_t identify[qvfw::kIdentifySize] = {};
    const bool sat = bridge::UsesSatIdentify(bridge::IdentifyChipType(d.path.c_str()));
    if (bridge::IdentifyDevice(d.path.c_str(), identify, sat ? 1 : 0)) {
      return qvfw::PutText(text, qvfw::kDiskRevisionCapacity, qvfw::RevisionFromIdentify(identify))
                 ? 1
                 : 0;
    }
    // A UFS device has no IDENTIFY; its own INQUIRY names its revision.
    uint8_t inquiry[36] = {};
    if (!qvfw::IsUfsProduct(d.path) || !bridge::Inquiry(d.path.c_str(), inquiry, sizeof inquiry)) {
      return 0;
    }
    return qvfw::PutText(text, qvfw::kDiskRevisionCapacity,
                         qvfw::Trimmed(inquiry + qvfw::kInquiryRevisionOffset,
                                       qvfw::kInquiryRevisionLength))
               ? 1
               : 0;
  });
}

int QV_GetMappingLetter(const char* path, char* letter) {
  QV_TRACE(path, letter);
  if (letter == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    char found = 0;
    if (!disk::FindDriveLetter(d.path.c_str(), &found)) return 0;
    return qvfw::PutText(letter, qvfw::kLetterCapacity, std::string(1, found)) ? 1 : 0;
  });
}

int QV_CheckWriteProtect(const char* path, int* writeProtected) {
  QV_TRACE(path, writeProtected);
  if (writeProtected == nullptr) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    bool wp = false;
    if (!bridge::ReadWriteProtect(d.path.c_str(), &wp)) return 0;
    *writeProtected = wp ? 1 : 0;
    return 1;
  });
}

int QV_FormatUnit(const char* path) {
  QV_TRACE(path);
  return OnDevice(path, [&](const ListedDevice& d) { return bridge::FormatUnit(d.path.c_str()); });
}

int QV_DiskPartition(const char* path, int gpt, int gpt2) {
  QV_TRACE(path, gpt, gpt2);
  if (!qvfw::IsFlag(gpt) || gpt2 != gpt) return 0;
  return OnDevice(path, [&](const ListedDevice& d) { return qvfw::Partition(d.path, gpt); });
}

int QV_Partition_LBA(const char* path, int gpt, int gpt2, int own) {
  QV_TRACE(path, gpt, gpt2, own);
  return QV_DiskPartition(path, gpt, gpt2);
}

int QV_DiskFormat(const char* path, int fileSystem, const char* label, int clusterSize) {
  QV_TRACE(path, fileSystem, label, clusterSize);
  if (!qvfw::FormatArguments(label, fileSystem, clusterSize, 1)) return 0;
  return OnDevice(path, [&](const ListedDevice& d) {
    char letter = 0;
    if (!disk::FindDriveLetter(d.path.c_str(), &letter)) return 0;
    qvfw::EnsureFormatRetries();
    const char root[] = {letter, ':', '\\', '\0'};
    return disk::FormatVolume(root, 1, label, fileSystem, static_cast<uint32_t>(clusterSize)) ==
                   disk::kFormatOk
               ? 1
               : 0;
  });
}

// The library's own writer formats FAT32 only.
int QV_Format_LBA(const char* path, const char* label, int fileSystem, int allocationUnit,
                  int quick, int own) {
  QV_TRACE(path, label, fileSystem, allocationUnit, quick, own);
  return qvfw::FormatEntry(path, disk::FormatRoute::OwnFat32, label, fileSystem, allocationUnit,
                           quick);
}

int QV_Format_FormatCOM(const char* path, const char* label, int fileSystem, int allocationUnit,
                        int quick, int own) {
  QV_TRACE(path, label, fileSystem, allocationUnit, quick, own);
  return qvfw::FormatEntry(path, disk::FormatRoute::FormatCommand, label, fileSystem,
                           allocationUnit, quick);
}

int QV_Format_WindowsAPI(const char* path, const char* label, int fileSystem, int allocationUnit,
                         int quick, int own) {
  QV_TRACE(path, label, fileSystem, allocationUnit, quick, own);
  return qvfw::FormatEntry(path, disk::FormatRoute::FormatService, label, fileSystem,
                           allocationUnit, quick);
}

int QV_Partition_LBA_Format_LBA(const char* path, int gpt, const char* label, int fileSystem,
                                int allocationUnit, int quick, int gpt2, int own) {
  QV_TRACE(path, gpt, label, fileSystem, allocationUnit, quick, gpt2, own);
  return qvfw::PartitionAndFormat(path, gpt, gpt2, disk::FormatRoute::OwnFat32, label, fileSystem,
                                  allocationUnit, quick);
}

int QV_Partition_LBA_Format_FormatCOM(const char* path, int gpt, const char* label,
                                      int fileSystem, int allocationUnit, int quick, int gpt2,
                                      int own, int route) {
  QV_TRACE(path, gpt, label, fileSystem, allocationUnit, quick, gpt2, own, route);
  return qvfw::PartitionAndFormat(path, gpt, gpt2, disk::FormatRoute::FormatCommand, label,
                                  fileSystem, allocationUnit, quick);
}

int QV_Partition_LBA_Format_WindowsAPI(const char* path, int gpt, const char* label,
                                       int fileSystem, int allocationUnit, int quick, int gpt2,
                                       int own, int route) {
  QV_TRACE(path, gpt, label, fileSystem, allocationUnit, quick, gpt2, own, route);
  return qvfw::PartitionAndFormat(path, gpt, gpt2, disk::FormatRoute::FormatService, label,
                                  fileSystem, allocationUnit, quick);
}

int QV_DiskRWTest(const char* path, float* readSpeed, float* writeSpeed, int sizeMB,
                  const uint8_t* pattern) {
  QV_TRACE(path, readSpeed, writeSpeed, sizeMB, pattern);
  if (readSpeed == nullptr || writeSpeed == nullptr || sizeMB <= 0 ||
      static_cast<uint32_t>(sizeMB) > qvfw::kMaxRwTestMB) {
    return 0;
  }
  return OnDevice(path, [&](const ListedDevice& d) {
    char letter = 0;
    if (!disk::FindDriveLetter(d.path.c_str(), &letter)) return 0;
    float read = 0, write = 0;
    const int ok = qvfw::RunVolumeRwTest(letter, static_cast<uint32_t>(sizeMB), pattern, &read, &write);
    *readSpeed = read;
    *writeSpeed = write;
    return ok;
  });
}

// The system stops the product's USB device and all below it; 1 when the
// device is gone afterwards.
int QV_SafeRemove(const char* path) {
  QV_TRACE(path);
  return OnDevice(path, [&](const ListedDevice& d) {
    if (d.usbNode == 0) return 0;
    station::SafeRemoveThread(d.usbNode);
    char id[8];
    return platform::GetDeviceId(d.usbNode, id, sizeof id) == platform::kCrInvalidDevNode ? 1 : 0;
  });
}

}  // extern "C"
