// The SPI NOR model on its bus: latches, erase geometry, protection, busy.
#include "sim/spi_flash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "platform/clock.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Transaction(SpiFlash& f, std::initializer_list<uint8_t> out, size_t readBytes = 0) {
  Bytes in;
  f.Select();
  for (uint8_t b : out) in.push_back(f.Transfer(b));
  for (size_t i = 0; i < readBytes; ++i) in.push_back(f.Transfer(0));
  f.Deselect();
  return in;
}

// The part's geometry, ready at once (the busy test sets its own times).
FlashConfig Geometry() {
  FlashConfig config;
  config.size = 256 * 1024;
  config.sectorSize = 4096;
  config.blockSize = 64 * 1024;
  config.pageProgramUs = 0;
  config.sectorEraseMs = 0;
  config.blockEraseMs = 0;
  config.chipEraseMs = 0;
  return config;
}

TEST(SpiFlash, EraseOpcodesUseTheirOwnUnits) {
  const struct {
    uint8_t opcode;
    uint32_t erased;
  } cases[] = {{0x20, 4096}, {0xD7, 4096}, {0x52, 32768}, {0xD8, 65536}, {0xC7, 262144},
               {0x60, 262144}, {0x42, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int{c.opcode});
    SpiFlash f(Geometry());
    std::fill(f.memory().begin(), f.memory().end(), 0x00);
    Transaction(f, {0x06});
    if (c.opcode == 0xC7 || c.opcode == 0x60)
      Transaction(f, {c.opcode});
    else
      Transaction(f, {c.opcode, 0x01, 0x23, 0x45});  // inside the second 64 KB block
    const auto ff = std::count(f.memory().begin(), f.memory().end(), 0xFF);
    EXPECT_EQ(static_cast<uint32_t>(ff), c.erased);
    if (c.erased != 0 && c.erased < f.size()) {
      const uint32_t base = 0x012345 - 0x012345 % c.erased;
      EXPECT_EQ(f.memory()[base], 0xFF);
      EXPECT_EQ(f.memory()[base + c.erased - 1], 0xFF);
      EXPECT_EQ(f.memory()[base + c.erased], 0x00);
    }
    EXPECT_EQ(f.Status() & SpiFlash::kWriteEnable, c.erased ? 0 : SpiFlash::kWriteEnable);
  }
}

TEST(SpiFlash, WritesNeedTheLatchAndACompleteCommand) {
  SpiFlash f(Geometry());
  Transaction(f, {0x02, 0, 0, 0, 0x00});  // no write enable
  EXPECT_EQ(f.memory()[0], 0xFF);
  Transaction(f, {0x06});
  Transaction(f, {0x20, 0, 0});  // short erase: ignored, latch kept
  EXPECT_EQ(f.Status() & SpiFlash::kWriteEnable, SpiFlash::kWriteEnable);
  Transaction(f, {0x02, 0, 0, 0, 0x3C});
  EXPECT_EQ(f.memory()[0], 0x3C);
  Transaction(f, {0x03, 0, 0, 0}, 2);
  EXPECT_EQ(Transaction(f, {0x03, 0, 0, 0}, 2), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x3C, 0xFF}));
}

TEST(SpiFlash, ProtectLevelsCoverTheTopOfTheArray) {
  const struct {
    uint8_t status;
    uint32_t firstProtected;
  } cases[] = {{0x04, 256 * 1024 - 4096}, {0x10, 256 * 1024 - 32768}, {0x18, 128 * 1024},
               {0x1C, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int{c.status});
    SpiFlash f(Geometry());
    f.SetStatusForTest(c.status);
    std::fill(f.memory().begin(), f.memory().end(), 0x00);
    if (c.firstProtected > 0) {
      f.EraseByOpcode(0x20, c.firstProtected - 1);  // the sector below still erases
      EXPECT_EQ(f.memory()[c.firstProtected - 1], 0xFF);
    }
    f.EraseByOpcode(0x20, c.firstProtected);
    EXPECT_EQ(f.memory()[c.firstProtected], 0x00);
    f.EraseByOpcode(0xC7, 0);  // any protection blocks the chip erase
    EXPECT_EQ(f.memory()[c.firstProtected], 0x00);
    f.memory()[c.firstProtected] = 0xFF;
    const uint8_t zero[1] = {0};
    f.Program(c.firstProtected, zero, 1);
    EXPECT_EQ(f.memory()[c.firstProtected], 0xFF);
  }
}

TEST(SpiFlash, BusyIgnoresCommandsButAnswersStatus) {
  // The flash stays busy until the test sleeps, however loaded the machine.
  platform::ScopedManualClock manual;
  FlashConfig config = Geometry();
  config.pageProgramUs = 100000;
  SpiFlash f(config);
  Transaction(f, {0x06});
  Transaction(f, {0x02, 0, 0, 0, 0x0F});
  EXPECT_EQ(Transaction(f, {0x05}, 1)[1] & SpiFlash::kBusy, SpiFlash::kBusy);
  Transaction(f, {0x06});  // ignored while busy
  EXPECT_EQ(f.Status() & SpiFlash::kWriteEnable, 0);
  EXPECT_EQ(Transaction(f, {0x9F}, 1)[1], 0xFF);
  platform::Sleep(150);
  EXPECT_EQ(f.Status() & SpiFlash::kBusy, 0);
  EXPECT_EQ(Transaction(f, {0x9F}, 3), (Bytes{0xFF, 0xEF, 0x40, 0x14}));
  // The firmware path queues behind a pending operation instead.
  const uint8_t data[2] = {0x00, 0x00};
  f.Program(0x100, data, 2);
  f.Program(0x200, data, 2);
  EXPECT_EQ(f.busyUntil(), platform::QueryPerformanceCounter() + 200000000);
}

TEST(SpiFlash, MissingFlashReadsAsAnIdleBus) {
  FlashConfig config = Geometry();
  config.present = false;
  SpiFlash f(config);
  EXPECT_FALSE(f.present());
  EXPECT_EQ(Transaction(f, {0x9F}, 3), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(f.Status(), 0xFF);
}

}  // namespace
}  // namespace sim
