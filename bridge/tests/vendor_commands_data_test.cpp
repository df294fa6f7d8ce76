// What the builders hand back: bytes from the device reach the caller, writes
// land in device state, and the few builders with a rule of their own
// (ReadFlashBusy, SmartReturnStatus) apply it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "bridge/tests/bench_fixture.h"
#include "bridge/vendor_commands.h"
#include "platform/clock.h"

namespace bridge::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::SizeIs;

using Bytes = std::vector<uint8_t>;

Bytes Counting(size_t size, uint8_t first) {
  Bytes bytes(size);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

// An ATA IDENTIFY string: words with their bytes swapped, space padded.
std::string AtaString(const Bytes& identify, size_t firstWord, size_t words) {
  std::string text;
  for (size_t w = firstWord; w < firstWord + words; ++w) {
    text += static_cast<char>(identify[2 * w + 1]);
    text += static_cast<char>(identify[2 * w]);
  }
  return text;
}

std::string Padded(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

class DataTest : public BenchTest {
 protected:
  template <class F>
  auto Bridge(F&& f) {
    return product().WithBridge(std::forward<F>(f));
  }
};

TEST_F(DataTest, RegisterSpaceReadsAndWritesAtTheAddress) {
  const Bytes seeded = Counting(64, 0x40);
  Bridge([&](sim::EmulatedBridge& b) {
    std::copy(seeded.begin(), seeded.end(), b.registers().begin() + 0xC000);
    return 0;
  });
  Bytes read(64);
  ASSERT_EQ(ReadBridgeRegister(path(), 0xC000, read.data(), 64), 1);
  EXPECT_EQ(read, seeded);

  uint8_t one[2] = {0x00, 0xEE};
  ASSERT_EQ(ReadBridgeRegister(path(), 0xC001, one, 1), 1);
  EXPECT_THAT(one, ElementsAre(0x41, 0xEE));

  const Bytes written = Counting(5, 0xA0);
  ASSERT_EQ(WriteBridgeRegister(path(), 0x2000, written.data(), 5), 1);
  EXPECT_EQ(Bridge([](sim::EmulatedBridge& b) {
              return Bytes(b.registers().begin() + 0x2000, b.registers().begin() + 0x2005);
            }),
            written);
}

TEST_F(DataTest, ConfigurationMemoryReadsFromItsAddressAndTheHeadFromZero) {
  Bridge([](sim::EmulatedBridge& b) {
    std::iota(b.configMemory().begin(), b.configMemory().begin() + 0x400, uint8_t{0});
    return 0;
  });
  Bytes at(32);
  ASSERT_EQ(ReadBridgeFlash(path(), 0x210, at.data(), 32), 1);
  EXPECT_EQ(at, Counting(32, 0x10));
  Bytes head(16);
  ASSERT_EQ(ReadBridgeFlashHead(path(), head.data(), 16), 1);
  EXPECT_EQ(head, Counting(16, 0x00));
}

TEST_F(DataTest, ConfigurationMemoryWritesLandAtTheirAddress) {
  const Bytes data = Counting(32, 0x61);
  ASSERT_EQ(WriteBridgeFlash(path(), 0x300, data.data(), 32, 0), 1);
  ASSERT_EQ(WriteBridgeFlashHead(path(), data.data(), 8), 1);
  Bridge([&](sim::EmulatedBridge& b) {
    EXPECT_EQ(Bytes(b.configMemory().begin() + 0x300, b.configMemory().begin() + 0x320), data);
    EXPECT_EQ(Bytes(b.configMemory().begin(), b.configMemory().begin() + 8),
              Bytes(data.begin(), data.begin() + 8));
    return 0;
  });
  Bytes back(32);
  ASSERT_EQ(ReadBridgeFlash(path(), 0x300, back.data(), 32), 1);
  EXPECT_EQ(back, data);
}

TEST_F(DataTest, InquiryCarriesTheProductStrings) {
  Bytes inquiry(36);
  ASSERT_EQ(Inquiry(path(), inquiry.data(), 36), 1);
  EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.begin() + 16), Padded("KVTEST", 8));
  EXPECT_EQ(std::string(inquiry.begin() + 16, inquiry.begin() + 32), Padded("WIRE CHECK", 16));
  EXPECT_EQ(std::string(inquiry.begin() + 32, inquiry.begin() + 36), "0207");
}

TEST_F(DataTest, IdentifyByEitherRouteDescribesTheDisk) {
  Bytes sat(512), tunnelled(512);
  ASSERT_EQ(SatIdentifyDevice(path(), sat.data()), 1);
  ASSERT_EQ(BridgeIdentifyDevice(path(), kAtaDeviceMaster, kAtaIdentifyDevice, tunnelled.data()),
            1);
  for (const Bytes* identify : {&sat, &tunnelled}) {
    EXPECT_EQ(AtaString(*identify, 10, 10), Padded("WIRE0042", 20));
    EXPECT_EQ(AtaString(*identify, 23, 4), Padded("2.07", 8));
    EXPECT_EQ(AtaString(*identify, 27, 20), Padded("KV WIRE DISK", 40));
  }
}

TEST_F(DataTest, ChipInformationBlockStartsWithItsMark) {
  Bytes info(16);
  ASSERT_EQ(ReadChipInfo(path(), info.data(), 16), 1);
  EXPECT_THAT(Bytes(info.begin(), info.begin() + 2), ElementsAre(0xF4, 0xE7));
  // The oldest family answers a 12-byte block: its chip number, no newer
  // version bytes.
  EXPECT_THAT(Bytes(info.begin() + 8, info.begin() + 11), ElementsAre('6', '4', '5'));
}

TEST_F(DataTest, DmaExtWritesAndReadsBackTheDisk) {
  const Bytes data = Counting(2048, 0x05);
  ASSERT_EQ(AtaWriteDmaExt(path(), 100, data.data(), 2048, 512), 1);
  Bytes back(2048);
  ASSERT_EQ(AtaReadDmaExt(path(), 100, back.data(), 2048, 512), 1);
  EXPECT_EQ(back, data);
  Bytes shifted(512);
  ASSERT_EQ(AtaReadDmaExt(path(), 101, shifted.data(), 512, 512), 1);
  EXPECT_EQ(shifted, Bytes(data.begin() + 512, data.begin() + 1024));
}

TEST_F(DataTest, SpiFlashProgramsAfterAnEraseAndReadsBack) {
  ASSERT_EQ(FlashEraseBlock(path(), 0x8000), 1);
  while (ReadFlashBusy(path()) == 1) platform::Sleep(10);
  Bytes erased(256);
  ASSERT_EQ(FlashRead(path(), 0x8000, erased.data(), 256), 1);
  EXPECT_THAT(erased, Each(0xFF));

  const Bytes data = Counting(256, 0x30);
  ASSERT_EQ(FlashWrite(path(), 0x8100, data.data(), 256), 1);
  while (ReadFlashBusy(path()) == 1) platform::Sleep(10);
  Bytes back(256);
  ASSERT_EQ(FlashRead(path(), 0x8100, back.data(), 256), 1);
  EXPECT_EQ(back, data);
}

TEST_F(DataTest, ReadFlashBusyIsZeroOnlyForAnIdleFlashAndOneOnFailure) {
  EXPECT_EQ(ReadFlashBusy(path()), 0);
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition));
  EXPECT_EQ(ReadFlashBusy(path()), 1);
  product().AddFault(MakeFault(sim::Fault::Kind::RequestFails));
  EXPECT_EQ(ReadFlashBusy(path()), 1);
  product().SetOpenFails(true);
  EXPECT_EQ(ReadFlashBusy(path()), 1) << "a vanished device keeps a busy-wait to its bound";
}

class BusyFlashTest : public BenchTest {
 protected:
  BusyFlashTest() : BenchTest({SlowEraseProduct()}) {}
  static sim::ProductConfig SlowEraseProduct() {
    sim::ProductConfig config = TestProduct("slow-erase");
    config.flash.chipEraseMs = 2000;
    return config;
  }
};

TEST_F(BusyFlashTest, ReadFlashBusyFollowsAChipErase) {
  ASSERT_EQ(FlashEraseChip(path()), 1);
  EXPECT_EQ(ReadFlashBusy(path()), 1);
  uint8_t status = 0;
  ASSERT_EQ(FlashReadStatus(path(), &status), 1);
  EXPECT_EQ(status & 0x01, 0x01);
  platform::Sleep(2500);
  EXPECT_EQ(ReadFlashBusy(path()), 0);
  ASSERT_EQ(FlashReadStatus(path(), &status), 1);
  EXPECT_EQ(status & 0x01, 0x00);
}

TEST_F(DataTest, SmartReturnStatusNeedsGoodCommandAndSignature) {
  EXPECT_EQ(SmartReturnStatus(path()), 1);
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition));
  EXPECT_EQ(SmartReturnStatus(path()), 0);
}

class NoDiskTest : public BenchTest {
 protected:
  NoDiskTest() : BenchTest({NoDisk()}) {}
  static sim::ProductConfig NoDisk() {
    sim::ProductConfig config = TestProduct("no-disk");
    config.disk.present = false;
    return config;
  }
};

TEST_F(NoDiskTest, SmartReturnStatusFailsWithoutADrive) { EXPECT_EQ(SmartReturnStatus(path()), 0); }

TEST_F(DataTest, StandbyTimerReachesTheBridgeIn100MsUnits) {
  ASSERT_EQ(SetStandbyTimerVendor(path(), 30, true), 1);
  Bridge([&](sim::EmulatedBridge& b) {
    EXPECT_TRUE(b.vendorState().standbyEnabled);
    EXPECT_EQ(b.vendorState().standbyTime, 30u * 600u);
    return 0;
  });
}

// The identity record and READ/WRITE BUFFER belong to the buffer-firmware
// bridges.
class BufferChipTest : public BenchTest {
 protected:
  BufferChipTest() : BenchTest({BufferChip()}) {}
  static sim::ProductConfig BufferChip() {
    sim::ProductConfig config = TestProduct("buffer-chip");
    config.chipType = 21;
    return config;
  }
};

TEST_F(BufferChipTest, IdentityRecordAndItsValuesReachTheBridge) {
  const Bytes record = Counting(kIdentityRecordSize, 0x01);
  ASSERT_EQ(WriteIdentityRecord(path(), 0x1234, 0xABCD, record.data()), 1);
  product().WithBridge([&](sim::EmulatedBridge& b) {
    const sim::VendorState& state = b.vendorState();
    EXPECT_EQ(state.identityRecord, record);
    EXPECT_EQ(state.identityValue1, 0x1234);
    EXPECT_EQ(state.identityValue2, 0xABCD);
    return 0;
  });
}

TEST_F(BufferChipTest, ReadBufferDescriptorArrives) {
  uint8_t descriptor[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_EQ(ScsiReadBuffer(path(), BufferMode{0x03}, BufferId{0x00}, 0, descriptor, 4), 1);
  EXPECT_NE(Bytes(descriptor, descriptor + 4), Bytes(4, 0xEE));
}

TEST_F(DataTest, HandleAndPathFormsAgreeOnTheSameRegisters) {
  platform::ScopedDevice device(path(), platform::kAccessRead | platform::kAccessWrite,
                                platform::kShareRead | platform::kShareWrite);
  ASSERT_TRUE(device.valid());
  const Bytes data = Counting(16, 0x70);
  const uint8_t write[12] = {0xDF, 0x00, 0x00, 0x00, 0x10, 0x00, 0x30, 0x00, 0, 0, 0, 0xFE};
  ASSERT_EQ(ScsiPassThroughOutHandle(device.get(), write, 12, data.data(), 16, nullptr), 1);
  Bytes back(16);
  ASSERT_EQ(ReadBridgeRegister(path(), 0x3000, back.data(), 16), 1);
  EXPECT_EQ(back, data);
  const auto trace = Trace();
  ASSERT_THAT(trace, SizeIs(2));
  EXPECT_EQ(trace[0].timeout, uint32_t{kTestScsiTimeout});
}

}  // namespace
}  // namespace bridge::testing
