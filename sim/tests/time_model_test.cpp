// The bench's time, space and time-outs as hardware has them: each command
// and its data take the product's modelled time, the flash stays busy for
// its part's times, a volume holds no more than its free space, and a reply
// slower than the request's time-out fails the request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/files.h"
#include "platform/volumes.h"
#include "sim/bench.h"
#include "sim/disk_image.h"
#include "sim/spi_flash.h"

namespace {

using platform::ScsiPassThroughDirect;

std::shared_ptr<sim::Bench> FromText(const std::string& text) {
  std::string error;
  auto bench = sim::Bench::FromText(text, &error);
  EXPECT_TRUE(bench) << error;
  return bench;
}

int64_t NowNs() { return platform::QueryPerformanceCounter(); }

struct Request {
  std::vector<uint8_t> cdb;
  uint8_t direction = platform::kScsiDataIn;
  uint32_t length = 0;
  uint32_t timeoutSeconds = 10;
};

// Sends one pass-through request to product 0; the request's error, 0 when
// it was answered.
uint32_t Send(sim::Bench& bench, const Request& r, std::vector<uint8_t>* data) {
  platform::ScopedDevice device(bench.product(0).path().c_str(), platform::kAccessRead | platform::kAccessWrite,
                                platform::kShareRead | platform::kShareWrite);
  EXPECT_TRUE(device.valid());
  data->resize(r.length);
  ScsiPassThroughDirect request{};
  request.Length = platform::kScsiPassThroughDirectLength;
  request.CdbLength = static_cast<uint8_t>(r.cdb.size());
  std::memcpy(request.Cdb, r.cdb.data(), r.cdb.size());
  request.DataIn = r.direction;
  request.DataTransferLength = r.length;
  request.DataBuffer = r.length ? data->data() : nullptr;
  request.TimeOutValue = r.timeoutSeconds;
  uint32_t returned = 0;
  if (platform::DeviceIoControl(device.get(), platform::kIoctlScsiPassThroughDirect, &request, sizeof request,
                                &request, sizeof request, &returned))
    return 0;
  return platform::GetLastError();
}

std::vector<uint8_t> Read10(uint32_t lba, uint16_t sectors) {
  return {0x28, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16), static_cast<uint8_t>(lba >> 8),
          static_cast<uint8_t>(lba), 0, static_cast<uint8_t>(sectors >> 8), static_cast<uint8_t>(sectors), 0};
}

std::vector<uint8_t> Write10(uint32_t lba, uint16_t sectors) {
  std::vector<uint8_t> cdb = Read10(lba, sectors);
  cdb[0] = 0x2A;
  return cdb;
}

// Station time moves only by what the bench models and the test sleeps.
class TimeModelTest : public ::testing::Test {
 protected:
  platform::ScopedManualClock manual_;
};

TEST_F(TimeModelTest, EachCommandTakesItsRoundTripAndItsDataAtTheProductsRate) {
  const struct {
    const char* name;
    const char* keys;  // of the product
    Request request;
    int64_t expectedNs;
  } cases[] = {
      {"no data: the round trip alone", "command_us = 150\n", {{0x00, 0, 0, 0, 0, 0}, platform::kScsiDataIn, 0},
       150000},
      {"a read at the configured rate", "command_us = 100\ndisk.read_mbps = 200\n",
       {Read10(0, 128), platform::kScsiDataIn, 65536}, 100000 + 65536 * 1000 / 200},
      {"a write at the configured rate", "command_us = 100\ndisk.write_mbps = 50\n",
       {Write10(8, 128), platform::kScsiDataOut, 65536}, 100000 + 65536 * 1000 / 50},
      {"a read at what a high-speed link carries", "speed = high\ncommand_us = 0\n",
       {Read10(0, 2048), platform::kScsiDataIn, 1 << 20}, (1 << 20) * 1000 / 40},
      {"the defaults of a SuperSpeed bridge", "", {Read10(0, 128), platform::kScsiDataIn, 65536},
       150000 + 65536 * 1000 / 400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bench = FromText(std::string("[product p]\nchip = 21\ndisk.sectors = 4096\n") + c.keys);
    platform::ScopedBackend installed(bench);
    std::vector<uint8_t> data;
    const int64_t before = NowNs();
    ASSERT_EQ(Send(*bench, c.request, &data), 0u);
    EXPECT_EQ(NowNs() - before, c.expectedNs);
  }
}

TEST_F(TimeModelTest, FlashStaysBusyForItsPartsTimes) {
  const struct {
    const char* name;
    const char* keys;
    uint8_t eraseOpcode;  // 0: a page program of 600 bytes (three pages)
    int64_t expectedNs;
  } cases[] = {
      {"a typical part's page programs", "", 0, 3 * 400000},
      {"a typical part's sector erase", "", 0x20, 45000000},
      {"a typical part's 64 KB block erase", "", 0xD8, 150000000},
      {"a typical part's chip erase", "", 0xC7, 2000000000},
      {"configured page program", "flash.page_program_us = 700\n", 0, 3 * 700000},
      {"configured sector erase", "flash.sector_erase_ms = 30\n", 0x20, 30000000},
      {"configured 32 KB block erase", "flash.block_erase_ms = 120\n", 0x52, 120000000},
      {"configured chip erase", "flash.chip_erase_ms = 9000\n", 0x60, 9000000000},
      {"no busy time", "flash.sector_erase_ms = 0\n", 0x20, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bench = FromText(std::string("[product p]\nchip = 21\n") + c.keys);
    const int64_t busyFor = bench->product(0).WithBridge([&](sim::EmulatedBridge& b) {
      sim::SpiFlash& flash = b.flash();
      const int64_t start = NowNs();
      if (c.eraseOpcode != 0) {
        flash.EraseByOpcode(c.eraseOpcode, 0x10000);
      } else {
        const std::vector<uint8_t> data(600, 0x5A);
        flash.Program(0x1000, data.data(), static_cast<uint32_t>(data.size()));
      }
      return flash.busyUntil() > start ? flash.busyUntil() - start : 0;
    });
    EXPECT_EQ(busyFor, c.expectedNs);
  }
}

// The host waits for a reply up to the request's time-out; a later one fails
// the request as a time-out, and the device carries none of it out.
TEST_F(TimeModelTest, AReplyLaterThanTheTimeOutFailsTheRequestAndWritesNothing) {
  const struct {
    const char* name;
    const char* keys;
    uint32_t delayMs;  // a slow device's extra wait before it answers
    uint32_t timeoutSeconds;
    uint32_t expectedError;
    int64_t expectedNs;  // the wait the host saw
  } cases[] = {
      {"a slow reply inside the time-out", "command_us = 0\n", 1500, 2, 0, 1500000000 + 512 * 1000 / 400},
      {"a slow reply past the time-out", "command_us = 0\n", 3000, 2, platform::kErrorSemTimeout, 2000000000},
      {"no time-out set: the host waits", "command_us = 0\n", 30000, 0, 0, 30000000000 + 512 * 1000 / 400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bench = FromText(std::string("[product p]\nchip = 21\ndisk.sectors = 4096\n") + c.keys);
    platform::ScopedBackend installed(bench);
    sim::Product& p = bench->product(0);
    if (c.delayMs) p.AddFault({sim::Fault::Kind::Delay, {0x2A}, 0, 1, c.delayMs});
    std::vector<uint8_t> data;
    Request write{Write10(5, 1), platform::kScsiDataOut, 512, c.timeoutSeconds};
    data.assign(512, 0xC3);
    const int64_t before = NowNs();
    {
      platform::ScopedDevice device(p.path().c_str(), platform::kAccessRead | platform::kAccessWrite, 3);
      ScsiPassThroughDirect request{};
      request.Length = platform::kScsiPassThroughDirectLength;
      request.CdbLength = 10;
      std::memcpy(request.Cdb, write.cdb.data(), 10);
      request.DataIn = platform::kScsiDataOut;
      request.DataTransferLength = 512;
      request.DataBuffer = data.data();
      request.TimeOutValue = c.timeoutSeconds;
      uint32_t returned = 0;
      const bool ok = platform::DeviceIoControl(device.get(), platform::kIoctlScsiPassThroughDirect, &request,
                                                sizeof request, &request, sizeof request, &returned);
      EXPECT_EQ(ok ? 0u : platform::GetLastError(), c.expectedError);
    }
    EXPECT_EQ(NowNs() - before, c.expectedNs);
    std::vector<uint8_t> sector(512);
    ASSERT_TRUE(p.WithBridge([&](sim::EmulatedBridge& b) { return b.disk().Read(5, 1, sector.data()); }));
    EXPECT_EQ(sector[0], c.expectedError == 0 ? 0xC3 : 0x00) << "the sector as the device left it";
    EXPECT_TRUE(p.Online()) << "a time-out leaves the product on the bus";
  }
  // A transfer whose data alone outlasts the time-out: 8 MiB on a
  // full-speed link (1 MB/s) against 5 s.
  auto bench = FromText("[product p]\nchip = 21\nspeed = full\ndisk.sectors = 65536\n");
  platform::ScopedBackend installed(bench);
  std::vector<uint8_t> data;
  const int64_t before = NowNs();
  EXPECT_EQ(Send(*bench, {Read10(0, 16384), platform::kScsiDataIn, 8u << 20, 5}, &data),
            platform::kErrorSemTimeout);
  EXPECT_EQ(NowNs() - before, 5000000000);
}

// A volume holds no more than its free space: a copy past it fails as a
// full disk does and leaves nothing behind; what fits is taken from the
// free space the system reports.
TEST_F(TimeModelTest, AVolumeRefusesWritesPastItsFreeSpace) {
  auto bench = FromText(
      "[product p]\nchip = 21\ndisk.sectors = 65536\nletters = E\nvolume.fs = NTFS\nvolume.free = 1M\n");
  platform::ScopedBackend installed(bench);
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("kestrova-capacity-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string big = (folder / "big.bin").string(), small = (folder / "small.bin").string();
  std::ofstream(big, std::ios::binary) << std::string(8u << 20, 'B');
  std::ofstream(small, std::ios::binary) << std::string(512u << 10, 's');

  uint64_t freeBefore = 0, total = 0, freeAll = 0;
  ASSERT_TRUE(platform::GetDiskFreeSpaceEx("E:\\", &freeBefore, &total, &freeAll));
  EXPECT_EQ(freeBefore, 1u << 20);
  EXPECT_FALSE(platform::CopyFile(big.c_str(), "E:\\big.bin", false));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorDiskFull);
  EXPECT_EQ(platform::GetFileAttributes("E:\\big.bin"), platform::kInvalidFileAttributes);
  ASSERT_TRUE(platform::CopyFile(small.c_str(), "E:\\small.bin", false));
  uint64_t freeAfter = 0;
  ASSERT_TRUE(platform::GetDiskFreeSpaceEx("E:\\", &freeAfter, &total, &freeAll));
  EXPECT_EQ(freeAfter, freeBefore - (512u << 10));

  // Writes of an open file stop at the first one that does not fit.
  platform::Handle file = platform::CreateFile("E:\\grow.bin", platform::kAccessWrite, 0, platform::kCreateAlways,
                                               platform::kFileAttributeNormal);
  ASSERT_NE(file, platform::kInvalidHandle);
  const std::vector<uint8_t> chunk(256u << 10, 0x42);
  uint32_t written = 0;
  EXPECT_TRUE(platform::WriteFile(file, chunk.data(), static_cast<uint32_t>(chunk.size()), &written));
  EXPECT_TRUE(platform::WriteFile(file, chunk.data(), static_cast<uint32_t>(chunk.size()), &written));
  EXPECT_FALSE(platform::WriteFile(file, chunk.data(), static_cast<uint32_t>(chunk.size()), &written));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorDiskFull);
  platform::CloseHandle(file);
  std::filesystem::remove_all(folder);
}

}  // namespace
