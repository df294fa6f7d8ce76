// The transport on the wire: request header, direction, the one-byte rule,
// time-outs, the success rule, and what a failure leaves behind.
#include "bridge/scsi_pass_through.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "bridge/tests/bench_fixture.h"
#include "platform/device_io.h"

namespace bridge::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::SizeIs;

// Register space access, built by hand so the transport is tested apart from
// the command builders.
std::array<uint8_t, 12> RegisterCdb(bool read, uint16_t address, uint16_t length) {
  return {0xDF,
          static_cast<uint8_t>(read ? 0x10 : 0x00),
          0x00,
          static_cast<uint8_t>(length >> 8),
          static_cast<uint8_t>(length),
          0x00,
          static_cast<uint8_t>(address >> 8),
          static_cast<uint8_t>(address),
          0x00,
          0x00,
          0x00,
          static_cast<uint8_t>(read ? 0xFD : 0xFE)};
}

constexpr uint16_t kRegister = 0x4100;

class PassThroughTest : public BenchTest {
 protected:
  void SeedRegisters(const std::vector<uint8_t>& bytes) {
    product().WithBridge([&](sim::EmulatedBridge& b) {
      std::copy(bytes.begin(), bytes.end(), b.registers().begin() + kRegister);
      return 0;
    });
  }
  std::vector<uint8_t> Registers(size_t count) {
    return product().WithBridge([&](sim::EmulatedBridge& b) {
      return std::vector<uint8_t>(b.registers().begin() + kRegister,
                                  b.registers().begin() + kRegister + count);
    });
  }
  int ReadPath(uint8_t* buffer, uint16_t length, uint32_t* moved = nullptr) {
    const auto cdb = RegisterCdb(true, kRegister, length);
    return ScsiPassThroughIn(path(), cdb.data(), 12, buffer, length, moved);
  }
  int WritePath(const uint8_t* data, uint16_t length) {
    const auto cdb = RegisterCdb(false, kRegister, length);
    uint32_t moved = 0;
    return ScsiPassThroughOut(path(), cdb.data(), 12, data, length, &moved);
  }
  sim::TraceEntry OnlyEntry() {
    auto trace = Trace();
    EXPECT_THAT(trace, SizeIs(1));
    return trace.empty() ? sim::TraceEntry{} : trace.front();
  }
};

TEST_F(PassThroughTest, HeaderCarriesTheFixedFieldsAndTheCallersCdb) {
  uint8_t buffer[64];
  ASSERT_EQ(ReadPath(buffer, sizeof buffer), 1);
  const auto entry = OnlyEntry();
  EXPECT_EQ(entry.headerLength, 44);
  EXPECT_EQ(entry.targetId, 1);
  EXPECT_EQ(entry.senseInfoOffset, 48u);
  EXPECT_THAT(entry.cdb, ElementsAreArray(RegisterCdb(true, kRegister, 64)));
  EXPECT_EQ(entry.dataIn, 1);
  EXPECT_EQ(entry.length, 64u);
  EXPECT_TRUE(entry.hasBuffer);
  EXPECT_EQ(bench_->OpenHandleCount(), 0);
}

TEST_F(PassThroughTest, CdbLengthIsTheCallers) {
  for (uint8_t length : {10, 12, 16}) {
    std::vector<uint8_t> cdb(length, 0);
    cdb[0] = 0x12;  // INQUIRY, padded
    cdb[4] = 36;
    uint8_t buffer[36];
    // The bytes on the wire are the subject, not the answer.
    (void)ScsiPassThroughIn(path(), cdb.data(), length, buffer, sizeof buffer, nullptr);
    EXPECT_THAT(OnlyEntry().cdb, ElementsAreArray(cdb)) << int{length};
  }
}

TEST_F(PassThroughTest, DataReachesTheCallerAndTheDevice) {
  std::vector<uint8_t> pattern(300);
  std::iota(pattern.begin(), pattern.end(), uint8_t{7});
  SeedRegisters(pattern);
  std::vector<uint8_t> read(300);
  uint32_t moved = 0;
  ASSERT_EQ(ReadPath(read.data(), 300, &moved), 1);
  EXPECT_EQ(read, pattern);
  EXPECT_EQ(moved, 300u);

  std::vector<uint8_t> written(300);
  std::iota(written.begin(), written.end(), uint8_t{90});
  ASSERT_EQ(WritePath(written.data(), 300), 1);
  EXPECT_EQ(Registers(300), written);
  const auto trace = Trace();
  ASSERT_THAT(trace, SizeIs(2));
  EXPECT_EQ(trace[1].dataIn, 0);
  EXPECT_EQ(trace[1].dataOut, written);
}

TEST_F(PassThroughTest, OneByteReadMovesTwoOnTheWireAndGivesTheCallerOne) {
  SeedRegisters({0x5A, 0xA5});
  uint8_t buffer[2] = {0x00, 0xEE};
  ASSERT_EQ(ReadPath(buffer, 1), 1);
  EXPECT_EQ(buffer[0], 0x5A);
  EXPECT_EQ(buffer[1], 0xEE) << "the caller asked for one byte";
  EXPECT_EQ(OnlyEntry().length, 2u);
}

TEST_F(PassThroughTest, OneByteWriteSendsTheByteAndAZero) {
  const uint8_t data = 0x77;
  ASSERT_EQ(WritePath(&data, 1), 1);
  const auto entry = OnlyEntry();
  EXPECT_EQ(entry.length, 2u);
  EXPECT_THAT(entry.dataOut, ElementsAre(0x77, 0x00));
}

TEST_F(PassThroughTest, CommandWithoutDataGoesOutWithoutBufferInEitherDirection) {
  const uint8_t cdb[12] = {0xFF, 0x04, 0x01};
  ASSERT_EQ(ScsiPassThroughOut(path(), cdb, 12, nullptr, 0, nullptr), 1);
  const auto out = OnlyEntry();
  EXPECT_EQ(out.dataIn, 0);
  EXPECT_EQ(out.length, 0u);
  EXPECT_FALSE(out.hasBuffer);

  const uint8_t status5[12] = {0xFF, 0x04, 0xC8, 0x05, 0x00};
  ASSERT_EQ(ScsiPassThroughIn(path(), status5, 12, nullptr, 0, nullptr), 1);
  const auto in = OnlyEntry();
  EXPECT_EQ(in.dataIn, 1);
  EXPECT_EQ(in.length, 0u);
  EXPECT_FALSE(in.hasBuffer);
}

struct TimeoutCase {
  const char* name;
  std::vector<uint8_t> cdb;
  bool dataIn;
  uint32_t timeout;
};

class PathTimeoutTest : public PassThroughTest,
                        public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(PathTimeoutTest, FollowsTheDirectionAndTheCdb) {
  const TimeoutCase& c = GetParam();
  uint8_t data[4] = {};
  const auto length = static_cast<uint8_t>(c.cdb.size());
  // The time-out the request carries is the subject, not the answer.
  if (c.dataIn)
    (void)ScsiPassThroughIn(path(), c.cdb.data(), length, data, sizeof data, nullptr);
  else
    (void)ScsiPassThroughOut(path(), c.cdb.data(), length, data, sizeof data, nullptr);
  EXPECT_EQ(OnlyEntry().timeout, c.timeout);
}

std::vector<uint8_t> Cdb(std::initializer_list<uint8_t> head, size_t length) {
  std::vector<uint8_t> cdb(head);
  cdb.resize(length, 0);
  return cdb;
}

std::vector<uint8_t> DfWrite(uint8_t byte1, uint8_t byte11) {
  auto cdb = Cdb({0xDF, byte1, 0x00, 0x00, 0x04}, 12);
  cdb[11] = byte11;
  return cdb;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PathTimeoutTest,
    ::testing::Values(
        TimeoutCase{"ReadUsesScsiTimeout", Cdb({0x12, 0, 0, 0, 4}, 12), true, kTestScsiTimeout},
        TimeoutCase{"ReadWithEraseByteStillScsiTimeout", Cdb({0xFF, 0x04, 0x13}, 12), true,
                    kTestScsiTimeout},
        TimeoutCase{"WriteWithByte2Is13", Cdb({0xFF, 0x04, 0x13}, 12), false, 100},
        TimeoutCase{"NonVendorWriteWithByte2Is13", Cdb({0x2A, 0x00, 0x13}, 10), false, 100},
        TimeoutCase{"WriteWholeFlashEraseType", DfWrite(0x03, 0xFB), false, 100},
        TimeoutCase{"WriteOtherEraseType", DfWrite(0x00, 0xFB), false, 50},
        TimeoutCase{"WriteEraseType3ButNotFlashWrite", DfWrite(0x03, 0xFE), false, 50},
        TimeoutCase{"ShortCdbHasNoByte11", Cdb({0x3B, 0x03, 0x00}, 10), false, 50},
        TimeoutCase{"PlainWrite", Cdb({0xFF, 0x04, 0x11}, 12), false, 50}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PassThroughTest, ScsiTimeoutIsReadAtEachCommand) {
  uint8_t buffer[4];
  {
    ScopedScsiTimeout longer(70);
    ReadPath(buffer, sizeof buffer);
  }
  ReadPath(buffer, sizeof buffer);
  const auto trace = Trace();
  ASSERT_THAT(trace, SizeIs(2));
  EXPECT_EQ(trace[0].timeout, 70u);
  EXPECT_EQ(trace[1].timeout, uint32_t{kTestScsiTimeout});
}

TEST(ScsiTimeoutDefault, IsTenSeconds) { EXPECT_EQ(SCSITimeout(), 10); }

TEST_F(PassThroughTest, CheckConditionFailsButTheZeroedBufferIsStillCopiedBack) {
  SeedRegisters(std::vector<uint8_t>(16, 0x33));
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition));
  std::vector<uint8_t> buffer(16, 0xEE);
  EXPECT_EQ(ReadPath(buffer.data(), 16), 0);
  EXPECT_THAT(buffer, Each(0x00)) << "the caller sees the private buffer, not its old bytes";
  EXPECT_EQ(OnlyEntry().status, platform::kScsiStatusCheckCondition);
  EXPECT_EQ(bench_->OpenHandleCount(), 0);
}

TEST_F(PassThroughTest, FailedRequestOrVanishedDeviceGivesZero) {
  uint8_t buffer[8];
  product().AddFault(MakeFault(sim::Fault::Kind::RequestFails));
  EXPECT_EQ(ReadPath(buffer, sizeof buffer), 0);
  const uint8_t data[8] = {};
  product().AddFault(MakeFault(sim::Fault::Kind::RequestFails));
  EXPECT_EQ(WritePath(data, sizeof data), 0);
  product().AddFault(MakeFault(sim::Fault::Kind::Vanish));
  EXPECT_EQ(ReadPath(buffer, sizeof buffer), 0);
  EXPECT_EQ(bench_->OpenHandleCount(), 0);
}

TEST_F(PassThroughTest, PathThatFailsToOpenSendsNothing) {
  product().SetOpenFails(true);
  uint8_t buffer[8];
  EXPECT_EQ(ReadPath(buffer, sizeof buffer), 0);
  EXPECT_EQ(WritePath(buffer, sizeof buffer), 0);
  const uint8_t cdb[12] = {0x12, 0, 0, 0, 8};
  EXPECT_EQ(ScsiPassThroughIn("\\\\?\\no-such-device", cdb, 12, buffer, 8, nullptr), 0);
  EXPECT_THAT(Trace(), IsEmpty());
}

TEST_F(PassThroughTest, MalformedCallsSendNothing) {
  uint8_t buffer[8];
  const uint8_t cdb[17] = {0x12, 0, 0, 0, 8};
  EXPECT_EQ(ScsiPassThroughIn(path(), cdb, 17, buffer, 8, nullptr), 0);
  EXPECT_EQ(ScsiPassThroughIn(path(), cdb, 0, buffer, 8, nullptr), 0);
  EXPECT_EQ(ScsiPassThroughIn(path(), nullptr, 12, buffer, 8, nullptr), 0);
  EXPECT_EQ(ScsiPassThroughIn(path(), cdb, 12, nullptr, 8, nullptr), 0);
  EXPECT_EQ(ScsiPassThroughOut(path(), cdb, 12, nullptr, 8, nullptr), 0);
  EXPECT_THAT(Trace(), IsEmpty());
}

// The path form allocates the header block, then the data buffer; the
// allocation after those two belongs to nobody in this call.
struct AllocationCase {
  int skip;
  bool sent;
};

class AllocationFailureTest : public PassThroughTest,
                              public ::testing::WithParamInterface<AllocationCase> {};

TEST_P(AllocationFailureTest, PathFormReportsZeroAndSendsNothing) {
  uint8_t buffer[64];
  int readResult = 0, writeResult = 0;
  {
    ScopedAllocationFault fault(GetParam().skip);
    readResult = ReadPath(buffer, sizeof buffer);
  }
  {
    ScopedAllocationFault fault(GetParam().skip);
    writeResult = WritePath(buffer, sizeof buffer);
  }
  EXPECT_EQ(readResult, GetParam().sent ? 1 : 0);
  EXPECT_EQ(writeResult, GetParam().sent ? 1 : 0);
  EXPECT_THAT(Trace(), SizeIs(GetParam().sent ? 2 : 0));
  EXPECT_EQ(bench_->OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(HeaderThenBuffer, AllocationFailureTest,
                         ::testing::Values(AllocationCase{0, false}, AllocationCase{1, false},
                                           AllocationCase{2, true}));

TEST_F(PassThroughTest, HandleFormAllocationFailureSendsNothing) {
  platform::ScopedDevice device(path(), platform::kAccessRead | platform::kAccessWrite,
                                platform::kShareRead | platform::kShareWrite);
  ASSERT_TRUE(device.valid());
  const auto cdb = RegisterCdb(true, kRegister, 8);
  uint8_t buffer[8];
  {
    ScopedAllocationFault fault(0);
    EXPECT_EQ(ScsiPassThroughInHandle(device.get(), cdb.data(), 12, buffer, 8, nullptr), 0);
  }
  EXPECT_THAT(Trace(), IsEmpty());
  EXPECT_EQ(ScsiPassThroughInHandle(device.get(), cdb.data(), 12, buffer, 8, nullptr), 1);
}

class HandleFormTest : public PassThroughTest {
 protected:
  HandleFormTest()
      : device_(platform::OpenDevice(path(), platform::kAccessRead | platform::kAccessWrite,
                                     platform::kShareRead | platform::kShareWrite)) {}
  ~HandleFormTest() override { platform::CloseDevice(device_); }
  void SetUp() override { ASSERT_NE(device_, platform::kInvalidHandle); }
  platform::Handle device_;
};

TEST_F(HandleFormTest, DataMovesBothWaysAndTheDeviceStaysOpen) {
  SeedRegisters({1, 2, 3, 4, 5, 6, 7, 8});
  uint8_t buffer[8] = {};
  uint32_t moved = 0;
  const auto read = RegisterCdb(true, kRegister, 8);
  ASSERT_EQ(ScsiPassThroughInHandle(device_, read.data(), 12, buffer, 8, &moved), 1);
  EXPECT_THAT(buffer, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8));
  EXPECT_EQ(moved, 8u);

  const uint8_t data[8] = {9, 8, 7, 6, 5, 4, 3, 2};
  const auto write = RegisterCdb(false, kRegister, 8);
  ASSERT_EQ(ScsiPassThroughOutHandle(device_, write.data(), 12, data, 8, &moved), 1);
  EXPECT_THAT(Registers(8), ElementsAreArray(data));
  EXPECT_EQ(bench_->OpenHandleCount(), 1);

  const auto trace = Trace();
  ASSERT_THAT(trace, SizeIs(2));
  EXPECT_EQ(trace[0].dataIn, 1);
  EXPECT_EQ(trace[1].dataIn, 0);
  EXPECT_EQ(trace[1].headerLength, 44);
  EXPECT_EQ(trace[1].targetId, 1);
}

TEST_F(HandleFormTest, BothDirectionsWaitScsiTimeoutWhateverTheCdb) {
  uint8_t data[4] = {};
  const uint8_t erase[12] = {0xFF, 0x04, 0x13};
  const auto wholeFlash = DfWrite(0x03, 0xFB);
  // The time-outs the requests carry are the subject, not the answers.
  (void)ScsiPassThroughOutHandle(device_, erase, 12, nullptr, 0, nullptr);
  (void)ScsiPassThroughOutHandle(device_, wholeFlash.data(), 12, data, 4, nullptr);
  (void)ScsiPassThroughInHandle(device_, RegisterCdb(true, kRegister, 4).data(), 12, data, 4,
                                nullptr);
  const auto trace = Trace();
  ASSERT_THAT(trace, SizeIs(3));
  for (const auto& entry : trace) EXPECT_EQ(entry.timeout, uint32_t{kTestScsiTimeout});
}

TEST_F(HandleFormTest, OneByteRuleThroughALocalPair) {
  SeedRegisters({0x42, 0x43});
  uint8_t buffer[2] = {0x00, 0xEE};
  ASSERT_EQ(ScsiPassThroughInHandle(device_, RegisterCdb(true, kRegister, 1).data(), 12, buffer, 1,
                                    nullptr),
            1);
  EXPECT_THAT(buffer, ElementsAre(0x42, 0xEE));
  const uint8_t data = 0x99;
  ASSERT_EQ(ScsiPassThroughOutHandle(device_, RegisterCdb(false, kRegister, 1).data(), 12, &data, 1,
                                     nullptr),
            1);
  const auto trace = Trace();
  ASSERT_THAT(trace, SizeIs(2));
  EXPECT_EQ(trace[0].length, 2u);
  EXPECT_EQ(trace[1].length, 2u);
  EXPECT_THAT(trace[1].dataOut, ElementsAre(0x99, 0x00));
}

TEST_F(HandleFormTest, CheckConditionOrInvalidHandleGivesZero) {
  uint8_t buffer[4];
  const auto read = RegisterCdb(true, kRegister, 4);
  product().AddFault(MakeFault(sim::Fault::Kind::CheckCondition));
  EXPECT_EQ(ScsiPassThroughInHandle(device_, read.data(), 12, buffer, 4, nullptr), 0);
  EXPECT_EQ(ScsiPassThroughInHandle(platform::kInvalidHandle, read.data(), 12, buffer, 4, nullptr),
            0);
  EXPECT_EQ(ScsiPassThroughOutHandle(platform::kInvalidHandle, read.data(), 12, buffer, 4, nullptr),
            0);
}

TEST_F(PassThroughTest, StorageDeviceNumberOfAnAttachedDisk) {
  platform::StorageDeviceNumber number{};
  ASSERT_EQ(GetStorageDeviceNumber(path(), &number), 1);
  EXPECT_EQ(number.DeviceType, platform::kFileDeviceDisk);
  EXPECT_EQ(GetStorageDeviceNumber("\\\\?\\no-such-device", &number), 0);
  product().SetOpenFails(true);
  EXPECT_EQ(GetStorageDeviceNumber(path(), &number), 0);
  EXPECT_EQ(bench_->OpenHandleCount(), 0);
}

TEST(AlignedBuffer, RoundsUpToTheAlignmentAndKeepsSizeBytesBehindIt) {
  struct Case {
    uintptr_t address, alignment, aligned;
  };
  for (const Case& c : {Case{0x1000, 0x2000, 0x2000}, Case{0x2000, 0x2000, 0x2000},
                        Case{0x2001, 0x2000, 0x4000}, Case{0x7, 8, 0x8}, Case{0x11, 1, 0x11}}) {
    EXPECT_EQ(
        reinterpret_cast<uintptr_t>(AlignBuffer(reinterpret_cast<void*>(c.address), c.alignment)),
        c.aligned);
  }
  void* raw = AllocAlignedBuffer(100, kTransferAlignment);
  ASSERT_NE(raw, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(raw);
  EXPECT_TRUE(
      std::all_of(bytes, bytes + 100 + kTransferAlignment, [](uint8_t b) { return b == 0; }));
  FreeAlignedBuffer(raw);
  FreeAlignedBuffer(nullptr);
  ScopedAllocationFault fault(0);
  EXPECT_EQ(AllocAlignedBuffer(100, kTransferAlignment), nullptr);
}

// Workers on different products share nothing in the transport.
TEST(PassThroughThreads, WorkersOnTheirOwnProductsDoNotInterfere) {
  constexpr int kWorkers = 4;
  std::vector<sim::ProductConfig> configs;
  for (int i = 0; i < kWorkers; ++i) configs.push_back(TestProduct("worker" + std::to_string(i)));
  auto bench = std::make_shared<sim::Bench>(configs);
  platform::ScopedBackend installed(bench);
  std::vector<std::string> paths;
  for (int i = 0; i < kWorkers; ++i) paths.push_back(bench->product(i).path());
  std::vector<int> failures(kWorkers, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kWorkers; ++i) {
    threads.emplace_back([&, i] {
      const uint8_t value = static_cast<uint8_t>(0x10 + i);
      for (int n = 0; n < 200; ++n) {
        uint8_t back = 0;
        if (ScsiPassThroughOut(paths[i].c_str(), RegisterCdb(false, kRegister, 1).data(), 12,
                               &value, 1, nullptr) != 1 ||
            ScsiPassThroughIn(paths[i].c_str(), RegisterCdb(true, kRegister, 1).data(), 12, &back,
                              1, nullptr) != 1 ||
            back != value)
          ++failures[i];
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_THAT(failures, Each(0));
  EXPECT_EQ(bench->OpenHandleCount(), 0);
}

}  // namespace
}  // namespace bridge::testing
