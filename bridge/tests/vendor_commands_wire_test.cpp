// Every command builder against its wire format: CDB bytes and length,
// direction, transfer length, time-out, and the data-out bytes where the
// format fixes them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "bridge/storage_enumeration.h"
#include "bridge/tests/bench_fixture.h"
#include "bridge/vendor_commands.h"

namespace bridge::testing {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::SizeIs;

using Bytes = std::vector<uint8_t>;

constexpr size_t kScratchSize = 128 * 1024;

// A builder call on a scratch buffer that holds a counting pattern, so a
// data-out command's bytes are recognisable.
using Call = std::function<int(const char* path, uint8_t* scratch)>;

struct WireCase {
  const char* name;
  Call call;
  Bytes cdb;
  bool dataIn;
  uint32_t length;   // on the wire
  uint32_t timeout;  // seconds
  // Data-out bytes the format fixes; for other writes the scratch pattern's
  // first `length` bytes are expected.
  std::optional<Bytes> dataOut = std::nullopt;
};

constexpr uint32_t kIn = kTestScsiTimeout;
constexpr uint32_t kOut = 50;
constexpr uint32_t kErase = 100;

Bytes Pattern(size_t size) {
  Bytes bytes(size);
  std::iota(bytes.begin(), bytes.end(), uint8_t{0x21});
  return bytes;
}

void PrintTo(const WireCase& c, std::ostream* os) { *os << c.name; }

class WireTest : public BenchTest, public ::testing::WithParamInterface<WireCase> {};

TEST_P(WireTest, PutsExactlyItsRowOnTheWire) {
  const WireCase& c = GetParam();
  Bytes scratch = Pattern(kScratchSize);
  c.call(path(), scratch.data());
  const auto trace = Trace();
  ASSERT_THAT(trace, SizeIs(1));
  const sim::TraceEntry& entry = trace.front();
  EXPECT_THAT(entry.cdb, ElementsAreArray(c.cdb));
  EXPECT_EQ(entry.dataIn, c.dataIn ? 1 : 0);
  EXPECT_EQ(entry.length, c.length);
  EXPECT_EQ(entry.hasBuffer, c.length != 0);
  EXPECT_EQ(entry.timeout, c.timeout);
  if (!c.dataIn && c.length > 0) {
    const Bytes expected = c.dataOut ? *c.dataOut : Pattern(c.length);
    EXPECT_THAT(entry.dataOut, ElementsAreArray(expected));
  }
}

Bytes Cdb12(std::initializer_list<uint8_t> head) {
  Bytes cdb(head);
  cdb.resize(12, 0);
  return cdb;
}
Bytes Cdb10(std::initializer_list<uint8_t> head) {
  Bytes cdb(head);
  cdb.resize(10, 0);
  return cdb;
}

const AtaTaskRecord kTaskIn = {.direction = 1,
                               .transferLength = 512,
                               .feature = 0x1203,
                               .sectorCount = 0x3401,
                               .lbaLow = 0x5602,
                               .lbaMid = 0x7803,
                               .lbaHigh = 0x9A04,
                               .device = kAtaDeviceMaster,
                               .command = 0xEC};
const AtaTaskRecord kTaskOut = {.direction = 0,
                                .transferLength = 0x010200,
                                .feature = 0x00,
                                .sectorCount = 0x81,
                                .lbaLow = 0x10,
                                .lbaMid = 0x20,
                                .lbaHigh = 0x30,
                                .device = kAtaDeviceSlave,
                                .command = 0x35};

const SpiByteRecord kPageProgram = {.count = 4, .dataPhase = 1, .bytes = {0x02, 0x01, 0x23, 0x45}};

const Bytes kSetType02 = {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0x55, 0x55, 0xAA,
                          0x2A, 0x55, 0x55, 0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
const Bytes kSetType1 = {0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0x55, 0x05, 0xAA,
                         0x02, 0x55, 0x05, 0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};

// 48-bit LBA A1 B2 C3 D4 E5 F6 as the DMA EXT rows scatter it.
constexpr uint64_t kLba = 0xA1B2C3D4E5F6;

const WireCase kDfRows[] = {
    {"ReadBridgeId", [](auto p, auto s) { return ReadBridgeId(p, s); },
     Cdb12({0xDF, 0x10, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0xFF}), true, 2, kIn},
    {"ReadBridgeFlashHead", [](auto p, auto s) { return ReadBridgeFlashHead(p, s, 0x0140); },
     Cdb12({0xDF, 0x10, 0x00, 0x01, 0x40, 0, 0, 0, 0, 0, 0, 0xFA}), true, 0x140, kIn},
    {"WriteBridgeFlashHead", [](auto p, auto s) { return WriteBridgeFlashHead(p, s, 64); },
     Cdb12({0xDF, 0x00, 0x00, 0x00, 0x40, 0, 0, 0, 0, 0, 0, 0xFB}), false, 64, kOut},
    {"ReadBridgeFlash", [](auto p, auto s) { return ReadBridgeFlash(p, 0x012345, s, 0x0123); },
     Cdb12({0xDF, 0x10, 0x00, 0x01, 0x23, 0, 0, 0, 0x01, 0x23, 0x45, 0xFA}), true, 0x123, kIn},
    {"WriteBridgeFlashEraseType0",
     [](auto p, auto s) { return WriteBridgeFlash(p, 0x00ABCD, s, 16, 0); },
     Cdb12({0xDF, 0x00, 0x00, 0x00, 0x10, 0, 0, 0, 0x00, 0xAB, 0xCD, 0xFB}), false, 16, kOut},
    {"WriteBridgeFlashWholeErase",
     [](auto p, auto s) { return WriteBridgeFlash(p, 0x000100, s, 16, 3); },
     Cdb12({0xDF, 0x03, 0x00, 0x00, 0x10, 0, 0, 0, 0x00, 0x01, 0x00, 0xFB}), false, 16, kErase},
    {"WriteBridgeFlashEraseTypeMasked",
     [](auto p, auto s) { return WriteBridgeFlash(p, 0, s, 16, 0xFF); },
     Cdb12({0xDF, 0x87, 0x00, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0xFB}), false, 16, kOut},
    {"WriteBridgeFlashMaskedTo3",
     [](auto p, auto s) { return WriteBridgeFlash(p, 0, s, 16, 0x7B); },
     Cdb12({0xDF, 0x03, 0x00, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0xFB}), false, 16, kErase},
    {"ReadBridgeRegister", [](auto p, auto s) { return ReadBridgeRegister(p, 0xC0A1, s, 64); },
     Cdb12({0xDF, 0x10, 0x00, 0x00, 0x40, 0x00, 0xC0, 0xA1, 0, 0, 0, 0xFD}), true, 64, kIn},
    {"ReadBridgeRegisterOneByte",
     [](auto p, auto s) { return ReadBridgeRegister(p, 0x0010, s, 1); },
     Cdb12({0xDF, 0x10, 0x00, 0x00, 0x01, 0x00, 0x00, 0x10, 0, 0, 0, 0xFD}), true, 2, kIn},
    {"ReadBridgeRegisterRec",
     [](auto p, auto s) {
       StorageDeviceEntry entry{};
       std::snprintf(entry.detail.DevicePath, sizeof entry.detail.DevicePath, "%s", p);
       return ReadBridgeRegisterRec(entry, 0x720F, s, 1);
     },
     Cdb12({0xDF, 0x10, 0x00, 0x00, 0x01, 0x00, 0x72, 0x0F, 0, 0, 0, 0xFD}), true, 2, kIn},
    {"WriteBridgeRegister", [](auto p, auto s) { return WriteBridgeRegister(p, 0x1234, s, 3); },
     Cdb12({0xDF, 0x00, 0x00, 0x00, 0x03, 0x00, 0x12, 0x34, 0, 0, 0, 0xFE}), false, 3, kOut},
    {"WriteBridgeRegisterOneByte",
     [](auto p, auto s) { return WriteBridgeRegister(p, 0x1234, s, 1); },
     Cdb12({0xDF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x12, 0x34, 0, 0, 0, 0xFE}), false, 2, kOut,
     Bytes{0x21, 0x00}},
    {"BridgeAtaTaskIn", [](auto p, auto s) { return BridgeAtaTask(p, kTaskIn, s); },
     Cdb12({0xDF, 0x10, 0x00, 0x02, 0x00, 0x03, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xEC}), true, 512,
     kIn},
    {"BridgeAtaTaskOut", [](auto p, auto s) { return BridgeAtaTask(p, kTaskOut, s); },
     Cdb12({0xDF, 0x00, 0x01, 0x02, 0x00, 0x00, 0x81, 0x10, 0x20, 0x30, 0xB0, 0x35}), false,
     0x010200, kOut},
    {"SmartReturnStatus", [](auto p, auto) { return SmartReturnStatus(p); },
     Cdb12({0xDF, 0x10, 0x00, 0x00, 0x01, 0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0}), true, 2, kIn},
    {"IdentifyDeviceThroughBridge",
     [](auto p,
        auto s) { return BridgeIdentifyDevice(p, kAtaDeviceMaster, kAtaIdentifyDevice, s); },
     Cdb12({0xDF, 0x10, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0, 0xA0, 0xEC}), true, 512, kIn},
    {"IdentifyPacketDeviceThroughBridge",
     [](auto p,
        auto s) { return BridgeIdentifyDevice(p, kAtaDeviceSlave, kAtaIdentifyPacketDevice, s); },
     Cdb12({0xDF, 0x10, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0, 0xB0, 0xA1}), true, 512, kIn},
};

const WireCase kFf04Rows[] = {
    {"ReadFlashBusy", [](auto p, auto) { return ReadFlashBusy(p); }, Cdb12({0xFF, 0x04, 0x00}),
     true, 2, kIn},
    {"FlashCmd01", [](auto p, auto) { return FlashCmd01(p); }, Cdb12({0xFF, 0x04, 0x01}), false, 0,
     kOut},
    {"FlashUnlockWriteFamily0",
     [](auto p, auto s) { return FlashUnlockWrite(p, s, 8, kFlashFamily0); },
     Cdb12({0xFF, 0x04, 0x02, 0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0xAA, 0x55, 0xA0}), false, 8,
     kOut},
    {"FlashUnlockWriteFamily2",
     [](auto p, auto s) { return FlashUnlockWrite(p, s, 8, kFlashFamily2); },
     Cdb12({0xFF, 0x04, 0x02, 0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0xAA, 0x55, 0xA0}), false, 8,
     kOut},
    {"FlashUnlockWriteFamily1",
     [](auto p, auto s) { return FlashUnlockWrite(p, s, 8, kFlashFamily1); },
     Cdb12({0xFF, 0x04, 0x02, 0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0xAA, 0x55, 0xA0}), false, 8,
     kOut},
    {"FlashUnlockWriteOtherFamily", [](auto p, auto s) { return FlashUnlockWrite(p, s, 8, 3); },
     Cdb12({0xFF, 0x04, 0x02}), false, 8, kOut},
    {"FlashRead32", [](auto p, auto s) { return FlashRead32(p, 0x12345678, s, 16); },
     Cdb12({0xFF, 0x04, 0x03, 0x78, 0x56, 0x34, 0x12}), true, 16, kIn},
    {"FlashSetTypeFamily0", [](auto p, auto) { return FlashSetType(p, kFlashFamily0); },
     Cdb12({0xFF, 0x04, 0x04}), false, 18, kOut, kSetType02},
    {"FlashSetTypeFamily2", [](auto p, auto) { return FlashSetType(p, kFlashFamily2); },
     Cdb12({0xFF, 0x04, 0x04}), false, 18, kOut, kSetType02},
    {"FlashSetTypeFamily1", [](auto p, auto) { return FlashSetType(p, kFlashFamily1); },
     Cdb12({0xFF, 0x04, 0x04}), false, 18, kOut, kSetType1},
    {"FlashSetTypeOtherFamily", [](auto p, auto) { return FlashSetType(p, 5); },
     Cdb12({0xFF, 0x04, 0x04}), false, 18, kOut, Bytes(18, 0)},
    {"FlashCmd05", [](auto p, auto) { return FlashCmd05(p); }, Cdb12({0xFF, 0x04, 0x05}), false, 0,
     kOut},
    {"FlashRead", [](auto p, auto s) { return FlashRead(p, 0x012345, s, 256); },
     Cdb12({0xFF, 0x04, 0x10, 0x01, 0x23, 0x45}), true, 256, kIn},
    {"FlashWrite", [](auto p, auto s) { return FlashWrite(p, 0x0A2300, s, 256); },
     Cdb12({0xFF, 0x04, 0x11, 0x0A, 0x23, 0x00}), false, 256, kOut},
    {"FlashReadStatus", [](auto p, auto s) { return FlashReadStatus(p, s); },
     Cdb12({0xFF, 0x04, 0x12}), true, 2, kIn},
    {"FlashEraseChip", [](auto p, auto) { return FlashEraseChip(p); }, Cdb12({0xFF, 0x04, 0x13}),
     false, 0, kErase},
    {"FlashEraseBlock", [](auto p, auto) { return FlashEraseBlock(p, 0x018000); },
     Cdb12({0xFF, 0x04, 0x14, 0x01, 0x80, 0x00}), false, 0, kOut},
    {"ReadFlashJedecId", [](auto p, auto s) { return ReadFlashJedecId(p, s); },
     Cdb12({0xFF, 0x04, 0x15, 0x04}), true, 4, kIn},
    {"QueryFlashParam3", [](auto p, auto s) { return QueryFlashParam3(p, 0x9F, false, s); },
     Cdb12({0xFF, 0x04, 0x15, 0x03, 0x9F, 0x00}), true, 3, kIn},
    {"QueryFlashParam3Wide", [](auto p, auto s) { return QueryFlashParam3(p, 0xAB, true, s); },
     Cdb12({0xFF, 0x04, 0x15, 0x03, 0xAB, 0x03}), true, 3, kIn},
    {"QueryFlashParam4", [](auto p, auto s) { return QueryFlashParam4(p, 0x90, false, s); },
     Cdb12({0xFF, 0x04, 0x15, 0x04, 0x90, 0x00}), true, 4, kIn},
    {"QueryFlashParam4Wide", [](auto p, auto s) { return QueryFlashParam4(p, 0x9F, true, s); },
     Cdb12({0xFF, 0x04, 0x15, 0x04, 0x9F, 0x03}), true, 4, kIn},
    {"SendSpiBytes", [](auto p, auto s) { return SendSpiBytes(p, kPageProgram, s, 16); },
     Cdb12({0xFF, 0x04, 0x20, 0x04, 0x01, 0x02, 0x01, 0x23, 0x45, 0x00, 0x00, 0x00}), false, 16,
     kOut},
    {"SendSpiBytesNoData",
     [](auto p, auto) {
       return SendSpiBytes(p, SpiByteRecord{.count = 1, .dataPhase = 0, .bytes = {0x06}}, nullptr,
                           0);
     },
     Cdb12({0xFF, 0x04, 0x20, 0x01, 0x00, 0x06}), false, 0, kOut},
    {"ReadBridgeData21", [](auto p, auto s) { return ReadBridgeData21(p, s, 0x0103); },
     Cdb12({0xFF, 0x04, 0x21, 0, 0, 0, 0, 0x01, 0x03}), true, 0x103, kIn},
    {"WriteSpiData", [](auto p, auto s) { return WriteSpiData(p, s, 255); },
     Cdb12({0xFF, 0x04, 0x22, 0, 0, 0, 0, 0, 0xFF}), false, 255, kOut},
    {"ReadFlashTypeCode", [](auto p, auto s) { return ReadFlashTypeCode(p, s); },
     Cdb12({0xFF, 0x04, 0x23, 0x04}), true, 4, kIn},
    {"SetFlashOpcodes",
     [](auto p, auto) {
       return SetFlashOpcodes(
           p, FlashOpcodes{.chipErase = 0xC7, .blockErase = 0x52, .program = 0x02, .flashCode = 0x05});
     },
     Cdb12({0xFF, 0x04, 0x24, 0x02, 0xC7, 0x52, 0x02, 0x05, 0x01}), true, 2, kIn},
    {"SendFlashOption25", [](auto p, auto) { return SendFlashOption25(p, 0x43); },
     Cdb12({0xFF, 0x04, 0x25, 0x02, 0x10}), true, 2, kIn},
    {"SendVendorCmd25", [](auto p, auto) { return SendVendorCmd25(p); }, Cdb12({0xFF, 0x04, 0x25}),
     false, 0, kOut},
    {"SetSpiOpcodeTable",
     [](auto p, auto) {
       const uint8_t ops[4] = {0x06, 0xD8, 0x02, 0x05};
       return SetSpiOpcodeTable(p, ops, 0x0180);
     },
     Cdb12({0xFF, 0x04, 0x0F, 0x06, 0xD8, 0x02, 0x05, 0x01, 0x80}), false, 0, kOut},
    {"SetBridgeStatus5", [](auto p, auto) { return SetBridgeStatus5(p, 0x5A); },
     Cdb12({0xFF, 0x04, 0xC8, 0x05, 0x5A}), true, 0, kIn},
    {"SetStandbyTimerVendorOn", [](auto p, auto) { return SetStandbyTimerVendor(p, 30, true); },
     Cdb12({0xFF, 0x04, 0xA3, 0x01, 0x00, 0x00, 0x46, 0x50}), true, 0, kIn},
    {"SetStandbyTimerVendorDisabled",
     [](auto p, auto) { return SetStandbyTimerVendor(p, 30, false); },
     Cdb12({0xFF, 0x04, 0xA3, 0x00, 0x00, 0x00, 0x46, 0x50}), true, 0, kIn},
    {"SetStandbyTimerVendorZero", [](auto p, auto) { return SetStandbyTimerVendor(p, 0, true); },
     Cdb12({0xFF, 0x04, 0xA3, 0x00, 0x00, 0x00, 0x00, 0x00}), true, 0, kIn},
    {"SetStandbyTimerVendorLongest",
     [](auto p, auto) { return SetStandbyTimerVendor(p, 7158278, true); },
     Cdb12({0xFF, 0x04, 0xA3, 0x01, 0xFF, 0xFF, 0xFE, 0x10}), true, 0, kIn},
    {"SetStandbyTimerVendorBeyondLongestIsClamped",
     [](auto p, auto) { return SetStandbyTimerVendor(p, 7158279, true); },
     Cdb12({0xFF, 0x04, 0xA3, 0x01, 0xFF, 0xFF, 0xFE, 0x10}), true, 0, kIn},
    {"SetStandbyTimerVendorLargestMinutesIsClamped",
     [](auto p, auto) { return SetStandbyTimerVendor(p, UINT32_MAX, true); },
     Cdb12({0xFF, 0x04, 0xA3, 0x01, 0xFF, 0xFF, 0xFE, 0x10}), true, 0, kIn},
    {"ReadBridgeBlock30", [](auto p, auto s) { return ReadBridgeBlock30(p, s, 40); },
     Cdb12({0xFF, 0x04, 0x30, 0x08}), true, 40, kIn},
    {"ReadConfigBlock", [](auto p, auto s) { return ReadConfigBlock(p, s, 128); },
     Cdb12({0xFF, 0x04, 0xA0, 0x80}), true, 128, kIn},
    {"ReadBridgeStatus0", [](auto p, auto s) { return ReadBridgeStatus0(p, s); },
     Cdb12({0xFF, 0x04, 0xC8, 0x00}), true, 2, kIn},
    {"ReadBridgeStatus1", [](auto p, auto s) { return ReadBridgeStatus1(p, s); },
     Cdb12({0xFF, 0x04, 0xC8, 0x01}), true, 2, kIn},
    {"ReadBridgeStatus2", [](auto p, auto s) { return ReadBridgeStatus2(p, s); },
     Cdb12({0xFF, 0x04, 0xC8, 0x02}), true, 2, kIn},
    {"ReadBridgeStatus3", [](auto p, auto s) { return ReadBridgeStatus3(p, s); },
     Cdb12({0xFF, 0x04, 0xC8, 0x03}), true, 2, kIn},
    {"SendVendorKeyCommand", [](auto p, auto) { return SendVendorKeyCommand(p); },
     Cdb12({0xFF, 0x04, 0x51, 0x56, 0x55}), false, 0, kOut},
    // Last: the bridge leaves the bus.
    {"ResetBridge", [](auto p, auto) { return ResetBridge(p); },
     Cdb12({0xFF, 0x04, 0x26, 0x51, 0x56}), true, 0, kIn},
};

const WireCase kScsiRows[] = {
    {"ReadChipInfo", [](auto p, auto s) { return ReadChipInfo(p, s, 16); },
     Cdb12({0xE0, 0xF4, 0xE7}), true, 16, kIn},
    {"Inquiry", [](auto p, auto s) { return Inquiry(p, s, 36); },
     Cdb12({0x12, 0x00, 0x00, 0x00, 0x24}), true, 36, kIn},
    {"InquiryPageC3", [](auto p, auto s) { return InquiryPageC3(p, s, 0x40); },
     Cdb12({0x12, 0x01, 0xC3, 0x00, 0x40}), true, 0x40, kIn},
    {"SatIdentifyDevice", [](auto p, auto s) { return SatIdentifyDevice(p, s); },
     Cdb12({0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC}), true, 512, kIn},
    {"FlushCacheExt", [](auto p, auto) { return FlushCacheExt(p); },
     Cdb12({0xA1, 0x06, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xEA}), false, 0, kOut},
    {"AtaReadDmaExt", [](auto p, auto s) { return AtaReadDmaExt(p, kLba, s, 4096, 512); },
     Bytes{0x85, 0x15, 0x0B, 0x00, 0x00, 0x00, 0x08, 0xC3, 0xF6, 0xB2, 0xE5, 0xA1, 0xD4, 0x60, 0x25,
           0x00},
     true, 4096, kIn},
    {"AtaReadDmaExt4kSectors",
     [](auto p, auto s) { return AtaReadDmaExt(p, 0x0102, s, 0x20000, 4096); },
     Bytes{0x85, 0x15, 0x0B, 0x00, 0x00, 0x00, 0x20, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x60, 0x25,
           0x00},
     true, 0x20000, kIn},
    {"AtaWriteDmaExt", [](auto p, auto s) { return AtaWriteDmaExt(p, kLba, s, 4096, 512); },
     Bytes{0x85, 0x17, 0x03, 0x00, 0x00, 0x00, 0x08, 0xC3, 0xF6, 0xB2, 0xE5, 0xA1, 0xD4, 0x60, 0x35,
           0x00},
     false, 4096, kOut},
    {"ScsiReadBuffer",
     [](auto p, auto s) {
       return ScsiReadBuffer(p, BufferMode{0x03}, BufferId{0x01}, 0x010203, s, 4);
     },
     Cdb10({0x3C, 0x03, 0x01, 0x01, 0x02, 0x03, 0x00, 0x00, 0x04, 0x00}), true, 4, kIn},
    {"ScsiWriteBuffer",
     [](auto p, auto s) {
       return ScsiWriteBuffer(p, BufferId{0x02}, BufferMode{0x05}, 0x000100, s, 0x0200);
     },
     Cdb10({0x3B, 0x05, 0x02, 0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00}), false, 0x200, kOut},
    {"ScsiWriteBufferActivate",
     [](auto p, auto) {
       return ScsiWriteBuffer(p, BufferId{0x02}, kWriteBufferActivateMode, 0x000100, nullptr, 0);
     },
     Cdb10({0x3B, 0x0F}), false, 0, kOut},
    // A caller's buffer and length do not turn the reset into a data-out.
    {"ScsiWriteBufferActivateWithData",
     [](auto p, auto s) {
       return ScsiWriteBuffer(p, BufferId{0x02}, kWriteBufferActivateMode, 0x000100, s, 0x0200);
     },
     Cdb10({0x3B, 0x0F}), false, 0, kOut},
    {"ModeSensePowerCondition", [](auto p, auto s) { return ModeSensePowerCondition(p, s, 0x130); },
     Cdb10({0x5A, 0x08, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x01, 0x30, 0x00}), true, 0x130, kIn},
    {"ModeSelectPowerCondition", [](auto p, auto s) { return ModeSelectPowerCondition(p, s); },
     Cdb10({0x55, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30, 0x00}), false, 48, kOut},
    {"WriteIdentityRecord",
     [](auto p, auto s) { return WriteIdentityRecord(p, 0x1234, 0xABCD, s); },
     Cdb12({0xC3, 0x30, 0x00, 0x00, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x48}), false, 72, kOut},
};

std::string CaseName(const ::testing::TestParamInfo<WireCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(DfFamily, WireTest, ::testing::ValuesIn(kDfRows), CaseName);
INSTANTIATE_TEST_SUITE_P(Ff04Family, WireTest, ::testing::ValuesIn(kFf04Rows), CaseName);
INSTANTIATE_TEST_SUITE_P(ScsiAndSat, WireTest, ::testing::ValuesIn(kScsiRows), CaseName);

class CommandTest : public BenchTest {};

TEST_F(CommandTest, QuerySpiFlashClocksTheOpcodeThenReadsTheReply) {
  uint8_t reply[3] = {};
  (void)QuerySpiFlash(path(), 0x9F, reply, sizeof reply);  // the commands sent are the subject
  const auto trace = Trace();
  ASSERT_THAT(trace, SizeIs(2));
  EXPECT_THAT(trace[0].cdb, ElementsAreArray(Cdb12({0xFF, 0x04, 0x20, 0x01, 0x01, 0x9F})));
  EXPECT_EQ(trace[0].dataIn, 0);
  EXPECT_EQ(trace[0].length, 0u);
  EXPECT_EQ(trace[0].timeout, kOut);
  EXPECT_THAT(trace[1].cdb, ElementsAreArray(Cdb12({0xFF, 0x04, 0x21, 0, 0, 0, 0, 0x00, 0x03})));
  EXPECT_EQ(trace[1].dataIn, 1);
  EXPECT_EQ(trace[1].length, 3u);
  EXPECT_EQ(trace[1].timeout, kIn);
}

TEST_F(CommandTest, QuerySpiFlashFailsWhenEitherStepFails) {
  uint8_t reply[3];
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0x20}));
  EXPECT_EQ(QuerySpiFlash(path(), 0x9F, reply, sizeof reply), 0);
  EXPECT_THAT(Trace(), SizeIs(1)) << "no reply is read after a failed opcode phase";
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition, {0xFF, 0x04, 0x21}));
  EXPECT_EQ(QuerySpiFlash(path(), 0x9F, reply, sizeof reply), 0);
  EXPECT_EQ(QuerySpiFlash(path(), 0x9F, reply, sizeof reply), 1);
}

// Values a CDB field cannot carry are refused before anything is sent.
struct RefusedCase {
  const char* name;
  Call call;
};

class RefusedTest : public BenchTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedTest, ReturnsZeroAndSendsNothing) {
  Bytes scratch = Pattern(kScratchSize);
  EXPECT_EQ(GetParam().call(path(), scratch.data()), 0);
  EXPECT_THAT(Trace(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, RefusedTest,
    ::testing::Values(
        RefusedCase{"WriteSpiData256", [](auto p, auto s) { return WriteSpiData(p, s, 256); }},
        RefusedCase{"AtaReadDmaExtSectorSize0",
                    [](auto p, auto s) { return AtaReadDmaExt(p, 0, s, 4096, 0); }},
        RefusedCase{"AtaWriteDmaExtSectorSize0",
                    [](auto p, auto s) { return AtaWriteDmaExt(p, 0, s, 4096, 0); }},
        RefusedCase{
            "AtaReadDmaExtLbaBeyond48Bits",
            [](auto p, auto s) { return AtaReadDmaExt(p, uint64_t{1} << 48, s, 512, 512); }},
        RefusedCase{"AtaWriteDmaExtTooManySectors",
                    [](auto p, auto s) { return AtaWriteDmaExt(p, 0, s, 65536 * 2, 2); }},
        RefusedCase{"ReadBridgeFlashLength64K",
                    [](auto p, auto s) { return ReadBridgeFlash(p, 0, s, 0x10000); }},
        RefusedCase{"WriteBridgeFlashAddressBeyond24Bits",
                    [](auto p, auto s) { return WriteBridgeFlash(p, 0x1000000, s, 16, 0); }},
        RefusedCase{"ReadBridgeRegisterLength64K",
                    [](auto p, auto s) { return ReadBridgeRegister(p, 0, s, 0x10000); }},
        RefusedCase{"BridgeAtaTaskLengthBeyond24Bits",
                    [](auto p, auto s) {
                      return BridgeAtaTask(
                          p, AtaTaskRecord{.direction = 1, .transferLength = 1u << 24}, s);
                    }},
        RefusedCase{"FlashReadAddressBeyond24Bits",
                    [](auto p, auto s) { return FlashRead(p, 0x1000000, s, 16); }},
        RefusedCase{"ReadBridgeData21Length64K",
                    [](auto p, auto s) { return ReadBridgeData21(p, s, 0x10000); }},
        RefusedCase{"ReadConfigBlock256",
                    [](auto p, auto s) { return ReadConfigBlock(p, s, 256); }},
        RefusedCase{"Inquiry256", [](auto p, auto s) { return Inquiry(p, s, 256); }},
        RefusedCase{"ScsiReadBufferOffsetBeyond24Bits",
                    [](auto p, auto s) {
                      return ScsiReadBuffer(p, BufferMode{2}, BufferId{0}, 1u << 24, s, 4);
                    }},
        RefusedCase{"SendFlashOption25Beyond1023",
                    [](auto p, auto) { return SendFlashOption25(p, 1024); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace bridge::testing
