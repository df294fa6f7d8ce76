#include "bridge/disk_resident_firmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "bridge/ff04_flash_programming.h"
#include "bridge/tests/bench_fixture.h"
#include "bridge/vendor_commands.h"
#include "platform/message_box.h"
#include "platform/resources.h"
#include "sim/disk_image.h"

namespace bridge {
namespace {

void PutWord(uint8_t* identify, size_t word, uint16_t value) {
  identify[2 * word] = static_cast<uint8_t>(value);
  identify[2 * word + 1] = static_cast<uint8_t>(value >> 8);
}

struct SizeCase {
  uint16_t word106;
  uint32_t words117118;  // logical sector size in words
  uint32_t size;
};

TEST(IdentifyGeometry, SectorSize) {
  const SizeCase cases[] = {
      {0x6000, 0, 512},          // says so, but 0 words: no division by zero later
      {0x5000, 2048, 4096},      {0x5000, 512, 1024},
      {0x6000, 2048, 512},       // bit 12 clear: several 512-byte logical sectors per physical one
      {0x5000, 32768, 65536},    {0x5000, 65536, 512},  // 128 KB: beyond the largest
      {0x5000, 3, 512},          // 6 bytes: not a power of two
      {0x5000, 128, 512},        // 256 bytes: below the smallest
      {0x4000, 2048, 512},       // bit 12 clear: 512-byte sectors
      {0xD000, 2048, 512},       // bit 15 set: the word is not valid
      {0x1000, 2048, 512},       // bit 14 clear: not valid
      {0x0000, 0, 512},          {0x5000, 0x80000000, 512},  // 2 x that overflows 32 bits
  };
  for (const SizeCase& c : cases) {
    uint8_t identify[512] = {};
    PutWord(identify, 106, c.word106);
    PutWord(identify, 117, static_cast<uint16_t>(c.words117118));
    PutWord(identify, 118, static_cast<uint16_t>(c.words117118 >> 16));
    EXPECT_EQ(IdentifySectorSize(identify), c.size) << std::hex << c.word106 << " " << c.words117118;
  }
}

TEST(IdentifyGeometry, SectorCount) {
  uint8_t identify[512] = {};
  PutWord(identify, 60, 0x1234);
  PutWord(identify, 61, 0x0056);
  EXPECT_EQ(IdentifySectorCount(identify), 0x00561234u);
  PutWord(identify, 60, 0xFFFF);
  PutWord(identify, 61, 0x0FFF);
  PutWord(identify, 102, 0x0001);  // 2^32 sectors: high half 1, low half 0
  EXPECT_EQ(IdentifySectorCount(identify), uint64_t{1} << 32);
}

struct StartCase {
  uint64_t area;
  bool flag;
  bool ok;
  uint64_t start;
};

TEST(DiskFirmwareArea, StartLba) {
  const StartCase cases[] = {
      {0x1000, false, true, 0xE00}, {0x1000, true, true, 0xF00},
      {0x1001, false, true, 0xF00}, {0x200, false, true, 0x0},
      {0x1FF, false, true, 0},      {0x100, true, true, 0},
      {0x100, false, false, 0},     {0xFF, true, false, 0},
      {0x0, false, false, 0},       {0x0, true, false, 0},
      {uint64_t{1} << 32, false, true, (uint64_t{1} << 32) - 0x200},
      {(uint64_t{1} << 48) + 0x1000, true, false, 0},
  };
  for (const StartCase& c : cases) {
    uint64_t start = 0;
    EXPECT_EQ(DiskFirmwareStartLba(c.area, c.flag, 512, &start), c.ok) << std::hex << c.area << c.flag;
    if (c.ok) {
      EXPECT_EQ(start, c.start) << std::hex << c.area << c.flag;
    }
  }
}

TEST(DiskConfigSector, Layout) {
  uint8_t config[kDiskConfigSize];
  for (size_t i = 0; i < sizeof config; ++i) config[i] = static_cast<uint8_t>(i);
  for (const uint32_t size : {512u, 1024u, 4096u}) {
    std::vector<uint8_t> sector(size, 0xEE);
    BuildDiskConfigSector(sector.data(), size, config);
    for (size_t i = 0; i < 128; ++i) ASSERT_EQ(sector[i], i % 2 ? 'V' : 'Q');
    EXPECT_EQ(std::memcmp(sector.data() + 256, sector.data(), 128), 0);
    EXPECT_EQ(std::memcmp(sector.data() + 128, config, 124), 0);
    EXPECT_EQ(sector[128 + 124], 124 | 0x20);
    EXPECT_EQ(std::memcmp(sector.data() + 384, sector.data() + 128, 128), 0);
    const size_t copy = size == 1024 ? 512 : size == 4096 ? 3584 : 0;
    for (size_t i = 512; i < size; ++i) {
      const bool inCopy = copy != 0 && i >= copy && i < copy + 512;
      ASSERT_EQ(sector[i], inCopy ? sector[i - copy] : 0) << size << " " << i;
    }
  }
  EXPECT_EQ(config[124], 124);  // the caller's block is left as it was
}

TEST(DiskFirmwareResource, SliceStaysInBuffer) {
  const platform::ResourceData full = platform::FindResource("QVB639FW", "FW");
  ASSERT_EQ(full.size, kQvb639FirmwareSize);
  std::vector<uint8_t> area(kDiskFirmwareAreaSize);
  EXPECT_EQ(LoadFirmwareResource(area.data(), area.size(), 0, 0), kQvb639FirmwareSize);
  EXPECT_EQ(std::memcmp(area.data(), full.data, full.size), 0);
  std::vector<uint8_t> small(0x100);
  EXPECT_EQ(LoadFirmwareResource(small.data(), small.size(), 0x80, 0), kQvb639FirmwareSize);
  EXPECT_EQ(std::memcmp(small.data() + 0x80, full.data + 0x80, 0x80), 0);
  EXPECT_EQ(LoadFirmwareResource(small.data(), small.size(), 0x8000, 0), 0u);
}

// ---- On the bench ----

sim::ProductConfig DiskBridge(unsigned chipType, uint32_t sectorSize, uint64_t sectors) {
  sim::ProductConfig config = testing::TestProduct("disk" + std::to_string(chipType));
  config.chipType = static_cast<uint8_t>(chipType);
  config.disk.sectorSize = sectorSize;
  config.disk.sectors = sectors;
  config.disk.reservedSectors = 0x1000;
  return config;
}

class DiskFirmwareOnBench : public testing::BenchTest {
 protected:
  DiskFirmwareOnBench(unsigned chipType = 8, uint32_t sectorSize = 512, uint64_t sectors = 0x20000)
      : BenchTest({DiskBridge(chipType, sectorSize, sectors)}) {}
  std::vector<uint8_t> ReadDisk(uint64_t lba, uint64_t count) {
    return product().WithBridge([&](sim::EmulatedBridge& bridge) {
      std::vector<uint8_t> out(count * bridge.disk().sectorSize());
      bridge.disk().Read(lba, count, out.data());
      return out;
    });
  }
};

TEST_F(DiskFirmwareOnBench, IdentifyOnTheWire) {
  uint8_t identify[512];
  ASSERT_EQ(ReadIdentifyData(path(), identify), 1);
  const std::vector<sim::TraceEntry> trace = Trace();
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(trace[0].cdb, (std::vector<uint8_t>{0xA1, 0x08, 0x0E, 0, 0, 0, 0, 0, 0x40, 0xEC, 0, 0}));
  EXPECT_EQ(ReadDiskSectorCount(path()), 0x20000u);
  EXPECT_EQ(ReadDiskSectorSize(path()), 512u);
}

// The QVB639 image goes below the area with its marker. Without a marker in
// the reserved area (it reads zeros) the area is 0x101 past the disk's end.
TEST_F(DiskFirmwareOnBench, Qvb639FirmwareArea) {
  const uint64_t sectors = product().WithBridge([](sim::EmulatedBridge& b) { return b.disk().sectors(); });
  const uint64_t area = LocateDiskFirmwareArea(path(), 512, 8);
  EXPECT_EQ(area, HasDiskFirmwareSignature(path(), 8) ? sectors + 0x101 : sectors - 1 + ReadDiskAreaFlag(path()));
  ASSERT_EQ(UpdateFirmwareQVB639(path(), 8), 1);
  uint64_t start = 0;
  ASSERT_TRUE(DiskFirmwareStartLba(area, ReadDiskAreaFlag(path()) != 0, 512, &start));
  const std::vector<uint8_t> written = ReadDisk(start, kDiskFirmwareAreaSize / 512);
  const platform::ResourceData firmware = platform::FindResource("QVB639FW", "FW");
  EXPECT_EQ(std::memcmp(written.data(), firmware.data, 150), 0);
  const uint8_t marker[6] = {0x55, static_cast<uint8_t>(area >> 24), static_cast<uint8_t>(area >> 16),
                             static_cast<uint8_t>(area >> 8), static_cast<uint8_t>(area), 0xAA};
  EXPECT_EQ(std::memcmp(written.data() + 150, marker, 6), 0);
  EXPECT_EQ(std::memcmp(written.data() + 156, firmware.data + 156, firmware.size - 156), 0);
  for (size_t i = firmware.size; i < written.size(); ++i) ASSERT_EQ(written[i], 0) << i;
}

// With the signature the marker beyond the last sector names the area.
TEST_F(DiskFirmwareOnBench, MarkerNamesTheArea) {
  product().WithBridge([](sim::EmulatedBridge& b) {
    b.registers()[0xC000] = 0x55;
    b.registers()[0xC001] = 0xAA;
    std::vector<uint8_t> sectors(4 * 512);
    const uint8_t v[4] = {0x00, 0x01, 0x23, 0x45};
    std::memcpy(sectors.data() + 151, v, 4);
    b.disk().Write(b.disk().sectors(), 4, sectors.data());
    return 0;
  });
  uint8_t signature[4] = {};
  ASSERT_EQ(ReadBridgeRegister(path(), 0xC000, signature, 4), 1);
  EXPECT_EQ(signature[0], 0x55);
  EXPECT_EQ(signature[1], 0xAA);
  EXPECT_EQ(HasDiskFirmwareSignature(path(), 8), 1);
  const uint64_t area = LocateDiskFirmwareArea(path(), 512, 8);
  EXPECT_EQ(area, 0x12345u);
}

// The firmware update of ChipType 7 is the disk-resident one: the
// FirmwareImage goes into the 64 KB area below the area LBA, with its marker.
class Type7OnBench : public DiskFirmwareOnBench {
 protected:
  Type7OnBench() : DiskFirmwareOnBench(7) {}
};

TEST_F(Type7OnBench, DispatcherWritesTheImageToTheDisk) {
  platform::RecordingMessageBoxSink sink;
  platform::ScopedMessageBoxSink installed(&sink);
  std::vector<uint8_t> image(0x9000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  ASSERT_EQ(UpdateFirmwareByChipType(path(), 7, 0, LoadedImage{image.data(), static_cast<uint32_t>(image.size())}), 1);
  EXPECT_TRUE(sink.boxes().empty());
  const uint64_t area = LocateDiskFirmwareArea(path(), 512, 7);
  uint64_t start = 0;
  ASSERT_TRUE(DiskFirmwareStartLba(area, ReadDiskAreaFlag(path()) != 0, 512, &start));
  const std::vector<uint8_t> written = ReadDisk(start, kDiskFirmwareAreaSize / 512);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 150, written.begin()));
  const uint8_t marker[6] = {0x55, static_cast<uint8_t>(area >> 24), static_cast<uint8_t>(area >> 16),
                             static_cast<uint8_t>(area >> 8), static_cast<uint8_t>(area), 0xAA};
  EXPECT_EQ(std::memcmp(written.data() + 150, marker, 6), 0);
  EXPECT_TRUE(std::equal(image.begin() + 156, image.end(), written.begin() + 156));
  for (size_t i = image.size(); i < written.size(); ++i) ASSERT_EQ(written[i], 0) << i;
  // No image: refused before anything is written.
  Trace();
  EXPECT_EQ(UpdateFirmwareByChipType(path(), 7, 0, LoadedImage{}), 0);
  for (const sim::TraceEntry& e : Trace()) EXPECT_NE(e.cdb[0], 0x85);
}

TEST_F(DiskFirmwareOnBench, ImageLimits) {
  std::vector<uint8_t> big(kDiskFirmwareAreaSize + 1, 0x11);
  Trace();
  EXPECT_EQ(UpdateDiskFirmwareType7(path(), 7, LoadedImage{big.data(), static_cast<uint32_t>(big.size())}), 0);
  EXPECT_EQ(UpdateDiskFirmwareType7(path(), 7, LoadedImage{big.data(), 0}), 0);
  EXPECT_EQ(UpdateDiskFirmwareType7(path(), 7, LoadedImage{}), 0);
  for (const sim::TraceEntry& e : Trace()) EXPECT_NE(e.cdb[0], 0x85);  // nothing written
  EXPECT_EQ(UpdateDiskFirmwareType7(path(), 7, LoadedImage{big.data(), kDiskFirmwareAreaSize}), 1);
}

TEST_F(DiskFirmwareOnBench, ConfigurationSector) {
  uint8_t config[kDiskConfigSize];
  std::memset(config, 0x42, sizeof config);
  ASSERT_EQ(UpdateDiskFirmware(path(), config, sizeof config, 8), 1);
  const uint64_t area = LocateDiskFirmwareArea(path(), 512, 8);
  const std::vector<uint8_t> sector = ReadDisk(area, 1);
  uint8_t expected[512];
  BuildDiskConfigSector(expected, 512, config);
  EXPECT_EQ(std::memcmp(sector.data(), expected, 512), 0);
  EXPECT_EQ(UpdateDiskFirmware(path(), config, 127, 8), 0);
}

TEST_F(DiskFirmwareOnBench, EepromTest) {
  uint8_t before[128] = {};
  ASSERT_EQ(ReadBridgeFlashHead(path(), before, sizeof before), 1);
  EXPECT_EQ(TestConfigEeprom(path()), 1);
  uint8_t after[128] = {};
  ASSERT_EQ(ReadBridgeFlashHead(path(), after, sizeof after), 1);
  EXPECT_EQ(std::memcmp(before, after, 128), 0);
  // The read-back after the first pattern fails: 0, and the head is put back.
  sim::Fault fault = testing::MakeFault(sim::Fault::Kind::CheckCondition, {0xDF, 0x10});
  fault.skip = 1;
  product().AddFault(fault);
  EXPECT_EQ(TestConfigEeprom(path()), 0);
  ASSERT_EQ(ReadBridgeFlashHead(path(), after, sizeof after), 1);
  EXPECT_EQ(std::memcmp(before, after, 128), 0);
}

class FourKDisk : public DiskFirmwareOnBench {
 protected:
  FourKDisk() : DiskFirmwareOnBench(8, 4096, 0x8000) {}
};

TEST_F(FourKDisk, ConfigurationSectorTwice) {
  ASSERT_EQ(ReadDiskSectorSize(path()), 4096u);
  uint8_t config[kDiskConfigSize] = {};
  ASSERT_EQ(UpdateDiskFirmware(path(), config, sizeof config, 8), 1);
  const std::vector<uint8_t> sector = ReadDisk(LocateDiskFirmwareArea(path(), 4096, 8), 1);
  EXPECT_EQ(std::memcmp(sector.data() + 3584, sector.data(), 512), 0);
  EXPECT_EQ(sector[0], 'Q');
}

// 2^32 sectors: the end of the disk lies below the high half.
class HugeDisk : public DiskFirmwareOnBench {
 protected:
  HugeDisk() : DiskFirmwareOnBench(8, 512, uint64_t{1} << 32) {}
};

TEST_F(HugeDisk, AreaAtTheHighHalf) {
  ASSERT_EQ(ReadDiskSectorCount(path()), uint64_t{1} << 32);
  const uint64_t area = LocateDiskFirmwareArea(path(), 512, 8);
  if (HasDiskFirmwareSignature(path(), 8) != 0) {
    EXPECT_EQ(area, uint64_t{1} << 32);  // no marker: the high half and the low byte of l = 0
  } else {
    EXPECT_EQ(area, (uint64_t{1} << 32) - 1 + ReadDiskAreaFlag(path()));  // n - 1 borrows
  }
  uint64_t start = 0;
  ASSERT_TRUE(DiskFirmwareStartLba(area, false, 512, &start));
  EXPECT_EQ(start, (uint64_t{1} << 32) - 0x200);
}

}  // namespace
}  // namespace bridge
