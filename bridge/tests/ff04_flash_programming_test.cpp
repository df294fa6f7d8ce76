// The FF 04 programming flows on emulated SPI flash: what each leaves in the
// flash, read back bit for bit, what it sends, and where it stops.
#include "bridge/ff04_flash_programming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "bridge/tests/bench_fixture.h"
#include "bridge/vendor_commands.h"
#include "platform/message_box.h"
#include "sim/parallel_flash.h"
#include "sim/spi_flash.h"

namespace bridge {
namespace {

using testing::Always;
using testing::BenchTest;
using testing::MakeFault;
using testing::TestProduct;

std::vector<uint8_t> Pattern(size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length);
  std::mt19937 random(seed);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

LoadedImage View(const std::vector<uint8_t>& bytes) {
  return {bytes.data(), static_cast<uint32_t>(bytes.size())};
}

sim::ProductConfig Ff04Product(uint8_t chipType, std::vector<uint8_t> jedecId = {0xEF, 0x40, 0x14}) {
  sim::ProductConfig config = TestProduct("ff04");
  config.chipType = chipType;
  config.flash.jedecId = std::move(jedecId);
  return config;
}

struct Command {
  uint8_t op;
  uint32_t address;
  uint32_t length;
  bool operator==(const Command&) const = default;
};

class Ff04Test : public BenchTest {
 protected:
  explicit Ff04Test(sim::ProductConfig config = Ff04Product(1)) : BenchTest({config}) {}
  void Protect() {
    product().WithBridge([](sim::EmulatedBridge& b) {
      b.flash().SetStatusForTest(sim::SpiFlash::kProtectMask);
      return 0;
    });
  }
  // FF 04 commands of the trace with one of the given sub-operations.
  std::vector<Command> Commands(std::initializer_list<uint8_t> ops) {
    std::vector<Command> out;
    for (const sim::TraceEntry& e : Trace()) {
      if (e.cdb.size() != 12 || e.cdb[0] != 0xFF || e.cdb[1] != 0x04) continue;
      if (std::find(ops.begin(), ops.end(), e.cdb[2]) == ops.end()) continue;
      const uint32_t address = uint32_t{e.cdb[3]} << 16 | uint32_t{e.cdb[4]} << 8 | e.cdb[5];
      out.push_back({e.cdb[2], address, e.length});
    }
    return out;
  }
  int Count(const std::vector<sim::TraceEntry>& trace, uint8_t op) {
    return static_cast<int>(std::count_if(trace.begin(), trace.end(), [&](const sim::TraceEntry& e) {
      return e.cdb.size() == 12 && e.cdb[0] == 0xFF && e.cdb[1] == 0x04 && e.cdb[2] == op;
    }));
  }
};

// ---- the flash-ready wait and the chunked read ----

TEST_F(Ff04Test, ReadyWaitReadsOnceAndThenAtMost501TimesCountingFailuresAsBusy) {
  product().AddFault(Always(MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0x12})));
  Trace();
  EXPECT_EQ(WaitFlashReady(path()), 0);
  EXPECT_EQ(Count(Trace(), 0x12), 502);
  product().ClearFaults();
  EXPECT_EQ(WaitFlashReady(path()), 1);
}

TEST_F(Ff04Test, ReadSpiFlashChunkedReadsAnOddLengthIntoAnExactBuffer) {
  const std::vector<uint8_t> content = Pattern(0x6000, 1);
  PutFlash(0x1000, content);
  std::vector<uint8_t> out(20000);
  Trace();
  ASSERT_EQ(ReadSpiFlashChunked(path(), 0x1000, out.data(), 20000), 1);
  const std::vector<Command> expected = {
      {0x10, 0x1000, 8192}, {0x10, 0x3000, 8192}, {0x10, 0x5000, 20000 - 16384}};
  EXPECT_EQ(Commands({0x10}), expected);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin()));
  EXPECT_EQ(ReadSpiFlashChunked(path(), 0, out.data(), 0), 0);
}

TEST_F(Ff04Test, ReadSpiFlashChunkedStopsWhenTheFlashNeverGetsReady) {
  product().AddFault(Always(MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0x12})));
  std::vector<uint8_t> out(0x2000);
  Trace();
  EXPECT_EQ(ReadSpiFlashChunked(path(), 0, out.data(), 0x2000), 0);
  EXPECT_EQ(Count(Trace(), 0x10), 0);
}

// ---- 32 KB flow ----

TEST_F(Ff04Test, FortyKilobyteImageErasesBothBlocksAndWritesThreeChunks) {
  FillFlash(0x00);
  const std::vector<uint8_t> image = Pattern(40 * 1024, 2);
  Trace();
  ASSERT_EQ(ProgramFirmware32K(path(), View(image)), 1);
  const std::vector<Command> expected = {
      {0x14, 0x0000, 0},      {0x14, 0x8000, 0},      {0x11, 0x0000, 0x4000},
      {0x11, 0x4000, 0x4000}, {0x11, 0x8000, 0x4000},
  };
  EXPECT_EQ(Commands({0x11, 0x14}), expected);
  std::vector<uint8_t> padded = image;
  padded.resize(0xC000, 0x00);  // the last chunk padded, not read past the image
  EXPECT_EQ(Flash(0, 0xC000), padded);
}

TEST_F(Ff04Test, ThirtyTwoKilobyteImageErasesOneBlock) {
  const std::vector<uint8_t> image = Pattern(0x8000, 3);
  Trace();
  ASSERT_EQ(ProgramFirmware32K(path(), View(image)), 1);
  EXPECT_EQ(Count(Trace(), 0x14), 1);
  EXPECT_EQ(Flash(0, 0x8000), image);
}

TEST_F(Ff04Test, FlashThatDoesNotEraseFailsBeforeAnythingIsWritten) {
  FillFlash(0x00);
  Protect();
  const std::vector<uint8_t> image = Pattern(0x8000, 4);
  Trace();
  EXPECT_EQ(ProgramFirmware32K(path(), View(image)), 0);
  EXPECT_EQ(Count(Trace(), 0x11), 0);
}

TEST_F(Ff04Test, ImagesTheFlowCannotHoldAreRefusedBeforeErasing) {
  const std::vector<uint8_t> tooLong = Pattern(0x10001, 5);
  const uint8_t byte = 0;
  Trace();
  EXPECT_EQ(ProgramFirmware32K(path(), LoadedImage{}), 0);
  EXPECT_EQ(ProgramFirmware32K(path(), LoadedImage{&byte, 0}), 0);
  EXPECT_EQ(ProgramFirmware32K(path(), View(tooLong)), 0);
  EXPECT_EQ(ProgramOtherFlashFamily(path(), 0, LoadedImage{}), 0);
  EXPECT_EQ(ProgramFlash48K(path(), false, true, nullptr, false, LoadedImage{}), 0);
  EXPECT_EQ(ProgramFlash48K(path(), false, true, nullptr, false, View(Pattern(0xC001, 6))), 0);
  EXPECT_EQ(ProgramFirmwareKeepHeader(path(), false, true, nullptr, LoadedImage{}), 0);
  EXPECT_TRUE(Trace().empty());
}

TEST_F(Ff04Test, FailedEraseOrWriteEndsTheFlow) {
  const std::vector<uint8_t> image = Pattern(0xA000, 7);
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0x14}));
  Trace();
  EXPECT_EQ(ProgramFirmware32K(path(), View(image)), 0);
  EXPECT_EQ(Count(Trace(), 0x11), 0);

  sim::Fault secondWrite = MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0x11});
  secondWrite.skip = 1;
  product().AddFault(secondWrite);
  EXPECT_EQ(ProgramFirmware32K(path(), View(image)), 0);
  EXPECT_EQ(Count(Trace(), 0x11), 2);  // nothing after the failed chunk
}

class SlowFlashTest : public Ff04Test {
 protected:
  static sim::ProductConfig Slow() {
    sim::ProductConfig config = Ff04Product(1);
    config.flash.sectorEraseMs = 300;
    config.flash.blockEraseMs = 300;
    config.flash.pageProgramUs = 5000;
    return config;
  }
  SlowFlashTest() : Ff04Test(Slow()) {}
};

TEST_F(SlowFlashTest, EraseAndProgramBusyTimesAreWaitedOut) {
  FillFlash(0x00);
  const std::vector<uint8_t> image = Pattern(0x9000, 9);
  ASSERT_EQ(ProgramFirmware32K(path(), View(image)), 1);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), Flash(0, 0x9000).begin()));
}

// ---- header-keeping flow (ChipType 9) ----

class KeepHeaderTest : public Ff04Test {
 protected:
  KeepHeaderTest() : Ff04Test(Ff04Product(9)) {
    PutFlash(0, deviceHeader_);
  }
  const std::vector<uint8_t> deviceHeader_ = Pattern(0x1000, 10);
};

std::vector<uint8_t> WithHeaderBlock(std::vector<uint8_t> image) {
  const uint8_t mark[7] = {0x55, 0xAA, 0xAA, 0x55, '6', '6', '2'};
  std::copy(mark, mark + 7, image.begin() + 0x1000);
  return image;
}

TEST_F(KeepHeaderTest, BareImageLiesBehindTheDevicesHeaderBlock) {
  const std::vector<uint8_t> image = Pattern(0x5000, 11);
  ASSERT_FALSE(HasHeaderBlock(image.data(), 0x5000));
  const std::vector<uint8_t> config = Pattern(128, 12);
  Trace();
  ASSERT_EQ(ProgramFirmwareKeepHeader(path(), true, true, config.data(), View(image)), 1);
  std::vector<uint8_t> expected = deviceHeader_;
  std::copy(config.begin(), config.end(), expected.begin());
  expected.insert(expected.end(), image.begin(), image.end());
  expected.resize(0x8000, 0x00);
  EXPECT_EQ(Flash(0, 0x8000), expected);
}

TEST_F(KeepHeaderTest, ImageUnderFourKilobytesIsPaddedNotOverread) {
  const std::vector<uint8_t> image = Pattern(0x800, 13);
  ASSERT_EQ(ProgramFirmwareKeepHeader(path(), false, true, nullptr, View(image)), 1);
  std::vector<uint8_t> expected = deviceHeader_;
  expected.insert(expected.end(), image.begin(), image.end());
  expected.resize(0x8000, 0x00);
  EXPECT_EQ(Flash(0, 0x8000), expected);
}

TEST_F(KeepHeaderTest, ImageWithItsHeaderBlockIsWrittenAsItStandsUnderTheDevicesFirstBytes) {
  const std::vector<uint8_t> image = WithHeaderBlock(Pattern(0x6000, 14));
  ASSERT_TRUE(HasHeaderBlock(image.data(), 0x6000));
  ASSERT_EQ(ProgramFirmwareKeepHeader(path(), false, true, nullptr, View(image)), 1);
  std::vector<uint8_t> expected = image;
  std::copy(deviceHeader_.begin(), deviceHeader_.begin() + 128, expected.begin());
  expected.resize(0x8000, 0x00);
  EXPECT_EQ(Flash(0, 0x8000), expected);
}

TEST_F(KeepHeaderTest, WithoutTheLoadedImageTheDevicesFirmwareStaysWhereItIs) {
  const std::vector<uint8_t> firmware = Pattern(0x7000, 15);
  PutFlash(0x1000, firmware);
  const std::vector<uint8_t> config = Pattern(128, 16);
  ASSERT_EQ(ProgramFirmwareKeepHeader(path(), true, false, config.data(), LoadedImage{}), 1);
  std::vector<uint8_t> expected = deviceHeader_;
  std::copy(config.begin(), config.end(), expected.begin());
  expected.insert(expected.end(), firmware.begin(), firmware.end());
  EXPECT_EQ(Flash(0, 0x8000), expected);
}

TEST_F(KeepHeaderTest, FailedHeaderReadWritesNothing) {
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0x10}));
  const std::vector<uint8_t> image = Pattern(0x5000, 17);
  Trace();
  EXPECT_EQ(ProgramFirmwareKeepHeader(path(), false, true, nullptr, View(image)), 0);
  const std::vector<sim::TraceEntry> trace = Trace();
  EXPECT_EQ(Count(trace, 0x14), 0);
  EXPECT_EQ(Count(trace, 0x11), 0);
}

// ---- 48 KB flow ----

class Flash48KTest : public Ff04Test {
 protected:
  explicit Flash48KTest(std::vector<uint8_t> jedecId = {0xEF, 0x40, 0x14})
      : Ff04Test(Ff04Product(4, std::move(jedecId))) {}
};

TEST_F(Flash48KTest, ImageAndCallerConfigurationFillTheFortyEightKilobytes) {
  FillFlash(0x00);
  const std::vector<uint8_t> image = Pattern(0x9000, 18);
  const std::vector<uint8_t> config = Pattern(128, 19);
  ASSERT_EQ(ProgramFlash48K(path(), true, true, config.data(), false, View(image)), 1);
  std::vector<uint8_t> expected = image;
  expected.resize(0xC000, 0x00);
  std::copy(config.begin(), config.end(), expected.begin() + 0x8000);
  EXPECT_EQ(Flash(0, 0xC000), expected);
}

TEST_F(Flash48KTest, DeviceFirmwareAndConfigurationAreKeptWithoutTheImage) {
  const std::vector<uint8_t> device = Pattern(0xC000, 20);
  PutFlash(0, device);
  ASSERT_EQ(ProgramFlash48K(path(), false, false, nullptr, false, LoadedImage{}), 1);
  std::vector<uint8_t> expected(device.begin(), device.begin() + 0x8200);
  expected.resize(0xC000, 0x00);
  EXPECT_EQ(Flash(0, 0xC000), expected);
}

class SstFlashTest : public Flash48KTest {
 protected:
  SstFlashTest() : Flash48KTest({0xBF, 0x25, 0x8E}) {}
};

TEST_F(SstFlashTest, AutoAddressIncrementProgramsTheWholeImage) {
  FillFlash(0x00);
  const std::vector<uint8_t> image = Pattern(0xC000, 21);
  const std::vector<uint8_t> config = Pattern(128, 22);
  Trace();
  const int result = ProgramFlash48K(path(), true, true, config.data(), true, View(image));
  const std::vector<sim::TraceEntry> trace = Trace();
  EXPECT_EQ(Count(trace, 0x11), 0);  // no page writes: AAI only
  // One AD with the address at every 16 KB, one without at every other 512 bytes.
  int addressed = 0, continued = 0;
  for (const sim::TraceEntry& e : trace) {
    if (e.cdb[0] != 0xFF || e.cdb[2] != 0x20 || e.cdb[5] != 0xAD || e.cdb[4] != 1) continue;
    (e.cdb[3] == 4 ? addressed : continued) += 1;
  }
  EXPECT_EQ(addressed, 3);
  EXPECT_EQ(continued, 3 * 31);
  ASSERT_EQ(result, 1);
  std::vector<uint8_t> expected = image;
  std::copy(config.begin(), config.end(), expected.begin() + 0x8000);
  EXPECT_EQ(Flash(0, 0xC000), expected);
}

// ---- other flash family and the dispatcher ----

class OtherFamilyTest : public Ff04Test {
 protected:
  static sim::ProductConfig Other(uint8_t commandSet) {
    sim::ProductConfig config = Ff04Product(29);
    config.flash.commandSet = commandSet;
    return config;
  }
  explicit OtherFamilyTest(uint8_t commandSet = 0) : Ff04Test(Other(commandSet)) {}
  std::vector<uint8_t> Parallel(uint32_t length) {
    return product().WithBridge([&](sim::EmulatedBridge& b) {
      const auto& memory = b.otherFlash().memory();
      return std::vector<uint8_t>(memory.begin(), memory.begin() + length);
    });
  }
  void FillParallel(uint8_t value) {
    product().WithBridge([&](sim::EmulatedBridge& b) {
      std::fill(b.otherFlash().memory().begin(), b.otherFlash().memory().end(), value);
      return 0;
    });
  }
};

class OtherFamilySet1Test : public OtherFamilyTest {
 protected:
  OtherFamilySet1Test() : OtherFamilyTest(1) {}
};

TEST_F(OtherFamilyTest, ImageIsWrittenAndReadBackWithTheFamilysUnlockAddresses) {
  for (int family : {0, 2, -1, 255}) {
    SCOPED_TRACE(family);
    FillParallel(0x00);
    const std::vector<uint8_t> image = Pattern(0x7000, 23 + family);
    ASSERT_EQ(ProgramOtherFlashFamily(path(), family, View(image)), 1);
    EXPECT_EQ(Parallel(0x7000), image);
  }
  // The other family's unlock addresses leave this part in read mode.
  const std::vector<uint8_t> image = Pattern(0x1000, 40);
  EXPECT_EQ(ProgramOtherFlashFamily(path(), 1, View(image)), 0);
}

TEST_F(OtherFamilySet1Test, FamilyOneReachesA555Part) {
  FillParallel(0x00);
  const std::vector<uint8_t> image = Pattern(0x7000, 41);
  ASSERT_EQ(ProgramOtherFlashFamily(path(), 1, View(image)), 1);
  EXPECT_EQ(Parallel(0x7000), image);
  EXPECT_EQ(ProgramOtherFlashFamily(path(), 0, View(image)), 0);
}

TEST_F(OtherFamilyTest, EraseThatNeverEndsStopsBeforeTheWrite) {
  // 50 000 busy polls: untraced, and on a clock fast enough that the 10 ms
  // pauses cost nothing.
  platform::ScopedClockScale faster(1e6);
  product().EnableTrace(false);
  FillParallel(0x00);
  product().AddFault(Always(MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0x00})));
  const std::vector<uint8_t> image = Pattern(0x1000, 30);
  EXPECT_EQ(ProgramOtherFlashFamily(path(), 0, View(image)), 0);
  product().ClearFaults();
  const std::vector<uint8_t> after = Parallel(0x1000);
  EXPECT_NE(after, image);  // never written
  EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](uint8_t b) { return b == 0x00 || b == 0xFF; }));
}

TEST_F(OtherFamilyTest, FailedSetTypeStopsBeforeTheErase) {
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0x04}));
  const std::vector<uint8_t> image = Pattern(0x1000, 31);
  Trace();
  EXPECT_EQ(ProgramOtherFlashFamily(path(), 1, View(image)), 0);
  const std::vector<sim::TraceEntry> trace = Trace();
  EXPECT_EQ(Count(trace, 0x01), 0);
  EXPECT_EQ(Count(trace, 0x02), 0);
}

TEST(FlashFamilyOf, NoneAndMinusOneAreFamilyZero) {
  EXPECT_EQ(FlashFamilyOf(-1), 0);
  EXPECT_EQ(FlashFamilyOf(255), 0);
  EXPECT_EQ(FlashFamilyOf(1), 1);
  EXPECT_EQ(FlashFamilyOf(2), 2);
}

TEST_F(Ff04Test, DispatcherRefusesChipTypesWithoutAnFf04Route) {
  platform::RecordingMessageBoxSink sink;
  platform::ScopedMessageBoxSink installed(&sink);
  const std::vector<uint8_t> image = Pattern(0x8000, 32);
  Trace();
  EXPECT_EQ(UpdateFirmwareByChipType(path(), 8, 0, View(image)), 0);
  ASSERT_EQ(sink.boxes().size(), 1u);
  EXPECT_EQ(sink.boxes()[0].text, "This device not support Firmware Update!");
  EXPECT_EQ(sink.boxes()[0].caption, "Error");
  EXPECT_TRUE(Trace().empty());
  EXPECT_EQ(UpdateFirmwareByChipType(path(), 1, 0, View(image)), 1);
  EXPECT_EQ(Flash(0, 0x8000), image);
  EXPECT_EQ(sink.boxes().size(), 1u);
}

}  // namespace
}  // namespace bridge
