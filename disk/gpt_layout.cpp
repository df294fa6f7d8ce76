#include "disk/gpt_layout.h"

#include <cstring>
#include <random>
#include <string_view>

#include "disk/partition_layout.h"
#include "platform/byte_order.h"
#include "platform/crc32.h"
#include "platform/device_io.h"
#include "platform/disk_ioctl.h"

namespace disk {
namespace {

constexpr uint8_t kProtectiveType = 0xEE;
constexpr uint64_t kSignature = 0x5452415020494645ull;  // "EFI PART"
constexpr uint32_t kRevision = 0x00010000;
constexpr std::u16string_view kPartitionName = u"Basic data partition";

// Header fields by offset.
struct HeaderPlace {
  uint64_t self, other, arrayLba;
};

void WriteHeader(uint8_t* header, const HeaderPlace& place, uint64_t firstUsable,
                 uint64_t lastUsable, const std::array<uint8_t, 16>& diskId, uint32_t arrayCrc) {
  platform::PutLittleEndian64(header + 0, kSignature);
  platform::PutLittleEndian32(header + 8, kRevision);
  platform::PutLittleEndian32(header + 12, kGptHeaderSize);
  platform::PutLittleEndian32(header + 16, 0);  // its CRC, computed over the header with this field 0
  platform::PutLittleEndian64(header + 24, place.self);
  platform::PutLittleEndian64(header + 32, place.other);
  platform::PutLittleEndian64(header + 40, firstUsable);
  platform::PutLittleEndian64(header + 48, lastUsable);
  std::memcpy(header + 56, diskId.data(), diskId.size());
  platform::PutLittleEndian64(header + 72, place.arrayLba);
  platform::PutLittleEndian32(header + 80, kGptEntryCount);
  platform::PutLittleEndian32(header + 84, kGptEntrySize);
  platform::PutLittleEndian32(header + 88, arrayCrc);
  platform::PutLittleEndian32(header + 16, platform::Crc32(header, kGptHeaderSize));
}

// Version-4 random ids.
std::array<uint8_t, 16> RandomId(std::mt19937_64& random) {
  std::array<uint8_t, 16> id{};
  for (size_t i = 0; i < id.size(); i += 8) platform::PutLittleEndian64(id.data() + i, random());
  id[7] = static_cast<uint8_t>((id[7] & 0x0F) | 0x40);
  id[8] = static_cast<uint8_t>((id[8] & 0x3F) | 0x80);
  return id;
}

bool ReadLength(platform::Handle device, uint64_t* bytes) {
  platform::GetLengthInformation length = {};
  uint32_t returned = 0;
  if (!platform::DeviceIoControl(device, platform::kIoctlDiskGetLengthInfo, nullptr, 0, &length,
                                 sizeof length, &returned) ||
      returned < sizeof length || length.Length <= 0) {
    return false;
  }
  *bytes = static_cast<uint64_t>(length.Length);
  return true;
}

bool ReadSectorSize(platform::Handle device, uint32_t* size) {
  platform::DiskGeometry geometry = {};
  uint32_t returned = 0;
  if (!platform::DeviceIoControl(device, platform::kIoctlDiskGetDriveGeometry, nullptr, 0,
                                 &geometry, sizeof geometry, &returned) ||
      returned < sizeof geometry || geometry.BytesPerSector < 512) {
    return false;
  }
  *size = geometry.BytesPerSector;
  return true;
}

}  // namespace

bool BuildGptSectors(uint64_t sectors, uint32_t sectorSize, const std::array<uint8_t, 16>& diskId,
                     const std::array<uint8_t, 16>& partitionId, GptSectors* out) {
  if (sectorSize < 512 || sectorSize % 512 != 0) return false;
  const uint64_t arrayBytes = uint64_t{kGptEntryCount} * kGptEntrySize;
  const uint64_t arraySectors = (arrayBytes + sectorSize - 1) / sectorSize;
  const uint64_t alignment = kGptPartitionAlignment / sectorSize;
  const uint64_t firstUsable = 2 + arraySectors;
  if (sectors < 2 * (1 + arraySectors) + 2) return false;  // both tables and the MBR
  const uint64_t lastUsable = sectors - 2 - arraySectors;
  const uint64_t first = (firstUsable + alignment - 1) / alignment * alignment;
  if (first > lastUsable) return false;

  std::vector<uint8_t> array(arraySectors * sectorSize, 0);
  uint8_t* entry = array.data();
  std::memcpy(entry, kBasicDataPartitionType.data(), 16);
  std::memcpy(entry + 16, partitionId.data(), 16);
  platform::PutLittleEndian64(entry + 32, first);
  platform::PutLittleEndian64(entry + 40, lastUsable);
  platform::PutLittleEndian64(entry + 48, 0);
  for (size_t i = 0; i < kPartitionName.size(); ++i) platform::PutLittleEndian16(entry + 56 + 2 * i, kPartitionName[i]);
  const uint32_t arrayCrc = platform::Crc32(array.data(), arrayBytes);

  GptSectors g;
  g.firstLba = first;
  g.lastLba = lastUsable;
  g.head.assign((2 + arraySectors) * sectorSize, 0);
  uint8_t* mbr = g.head.data();
  uint8_t* slot = mbr + 446;
  slot[1] = 0x00;  // CHS of LBA 1
  slot[2] = 0x02;
  slot[3] = 0x00;
  slot[4] = kProtectiveType;
  slot[5] = slot[6] = slot[7] = 0xFF;
  platform::PutLittleEndian32(slot + 8, 1);
  platform::PutLittleEndian32(slot + 12, sectors - 1 > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(sectors - 1));
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  WriteHeader(g.head.data() + sectorSize, {1, sectors - 1, 2}, firstUsable, lastUsable, diskId, arrayCrc);
  std::memcpy(g.head.data() + 2 * sectorSize, array.data(), array.size());

  g.tailLba = sectors - 1 - arraySectors;
  g.tail.assign((arraySectors + 1) * sectorSize, 0);
  std::memcpy(g.tail.data(), array.data(), array.size());
  WriteHeader(g.tail.data() + arraySectors * sectorSize, {sectors - 1, 1, g.tailLba}, firstUsable,
              lastUsable, diskId, arrayCrc);
  *out = std::move(g);
  return true;
}

int CreateGptLayout(const char* devicePath) {
  if (devicePath == nullptr || bridge::IsSystemDisk(devicePath)) return 0;
  platform::ScopedDevice disk(devicePath, platform::kAccessRead | platform::kAccessWrite,
                              platform::kShareRead | platform::kShareWrite);
  uint64_t bytes = 0;
  uint32_t sectorSize = 0;
  if (!disk.valid() || !ReadSectorSize(disk.get(), &sectorSize) || !ReadLength(disk.get(), &bytes)) {
    return 0;
  }
  std::random_device seed;
  std::mt19937_64 random((uint64_t{seed()} << 32) | seed());
  GptSectors g;
  if (!BuildGptSectors(bytes / sectorSize, sectorSize, RandomId(random), RandomId(random), &g)) return 0;
  // The old volume's boot sector goes first, so no stale file system shows
  // once the table names the partition.
  const std::vector<uint8_t> zeros(sectorSize, 0);
  const bool written =
      WriteSectorAt(disk.get(), g.firstLba * sectorSize, zeros.data(), sectorSize) &&
      WriteSectorAt(disk.get(), g.tailLba * sectorSize, g.tail.data(), static_cast<uint32_t>(g.tail.size())) &&
      WriteSectorAt(disk.get(), 0, g.head.data(), static_cast<uint32_t>(g.head.size()));
  if (!written) return 0;
  uint32_t returned = 0;
  return platform::DeviceIoControl(disk.get(), platform::kIoctlDiskUpdateProperties, nullptr, 0,
                                   nullptr, 0, &returned)
             ? 1
             : 0;
}

}  // namespace disk
