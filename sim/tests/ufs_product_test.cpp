// UFS products: the unit command E6 (refused by ATA bridges), no IDENTIFY,
// a disabled unit with no medium, an enable at once or at the next power-on,
// write protect, the reference clock; and on the bench, a unit that comes
// brings its volume, one that is disabled shows none.
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/volumes.h"
#include "sim/bench.h"
#include "sim/disk_image.h"
#include "sim/tests/cdb_helpers.h"

namespace sim {
namespace {

using testing::Bytes;
using testing::Cdb;
using testing::In;

ProductConfig Ufs(bool enabled, bool afterReset = false, bool writeProtected = false) {
  ProductConfig config = testing::Config(28);
  config.ufs.present = true;
  config.ufs.enabled = enabled;
  config.ufs.enableAfterReset = afterReset;
  config.ufs.writeProtected = writeProtected;
  return config;
}

CommandResult Out(EmulatedBridge& b, const Bytes& cdb, Bytes data = {}) {
  return b.Execute(cdb.data(), static_cast<uint8_t>(cdb.size()), false,
                   data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()));
}

bool Good(const CommandResult& r) { return r.status == 0; }

// Unit state as E6 01 reads it: enabled, pending, write protected, clock.
Bytes State(EmulatedBridge& b) {
  const auto reply = In(b, Cdb({0xE6, 0x01}), 8);
  return Good(reply.result) ? reply.data : Bytes{};
}

const Bytes kReadCapacity = Cdb({0x25}, 10);
const Bytes kRead1 = Cdb({0x28, 0, 0, 0, 0, 0, 0, 0, 1}, 10);
const Bytes kWrite1 = Cdb({0x2A, 0, 0, 0, 0, 0, 0, 0, 1}, 10);

TEST(UfsProduct, AnAtaBridgeRefusesTheUnitCommandAndTakesFormatAndSync) {
  EmulatedBridge ata(testing::Config(28));
  EXPECT_FALSE(Good(In(ata, Cdb({0xE6, 0x01}), 8).result));
  EXPECT_TRUE(Good(Out(ata, Cdb({0x04}, 6))));
  EXPECT_TRUE(Good(Out(ata, Cdb({0x35}, 10))));
}

TEST(UfsProduct, NoIdentifyAndNoAtaDriveInThePortRegister) {
  EmulatedBridge ufs(Ufs(true));
  EXPECT_FALSE(Good(In(ufs, Cdb({0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC}), 512).result));
  EXPECT_TRUE(Good(In(ufs, kReadCapacity, 8).result));
  EXPECT_TRUE(Good(In(ufs, kRead1, 512).result));
  EXPECT_TRUE(Good(Out(ufs, kWrite1, Bytes(512, 0x5A))));
  EXPECT_TRUE(Good(Out(ufs, Cdb({0x35}, 10))));
  EXPECT_TRUE(ufs.MediumPresent(0));
}

TEST(UfsProduct, EnablingADisabledUnit) {
  struct Case {
    const char* name;
    bool afterReset;
  };
  for (const Case c : {Case{"at once", false}, Case{"after the next power-on", true}}) {
    SCOPED_TRACE(c.name);
    EmulatedBridge b(Ufs(false, c.afterReset));
    EXPECT_EQ(State(b), (Bytes{0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(Good(In(b, kReadCapacity, 8).result)) << "no medium";
    EXPECT_FALSE(Good(In(b, kRead1, 512).result));
    EXPECT_FALSE(b.MediumPresent(0));
    ASSERT_TRUE(Good(Out(b, Cdb({0xE6, 0x02}))));
    EXPECT_EQ(State(b)[0], c.afterReset ? 0 : 1);
    EXPECT_EQ(State(b)[1], c.afterReset ? 1 : 0);
    b.PowerOn();
    EXPECT_EQ(State(b)[0], 1);
    EXPECT_EQ(State(b)[1], 0);
    EXPECT_TRUE(Good(In(b, kReadCapacity, 8).result));
  }
}

TEST(UfsProduct, WriteProtectFailsWritesAndShowsInModeSense) {
  EmulatedBridge b(Ufs(true, false, true));
  EXPECT_TRUE(Good(In(b, kRead1, 512).result));
  EXPECT_FALSE(Good(Out(b, kWrite1, Bytes(512, 1))));
  EXPECT_FALSE(Good(Out(b, Cdb({0x04}, 6))));
  EXPECT_FALSE(b.MediumWritable(0));
  const auto sense = In(b, Cdb({0x5A, 0x08, 0x3F, 0, 0, 0, 0, 0, 8}, 10), 8);
  ASSERT_TRUE(Good(sense.result));
  EXPECT_EQ(sense.data[3] & 0x80, 0x80);
  EmulatedBridge writable(Ufs(true));
  EXPECT_EQ(In(writable, Cdb({0x5A, 0x08, 0x3F, 0, 0, 0, 0, 0, 8}, 10), 8).data[3] & 0x80, 0);
}

TEST(UfsProduct, ReferenceClockTakesCodesZeroToThree) {
  EmulatedBridge b(Ufs(true));
  ASSERT_TRUE(Good(Out(b, Cdb({0xE6, 0x04, 3}))));
  EXPECT_EQ(State(b)[3], 3);
  EXPECT_FALSE(Good(Out(b, Cdb({0xE6, 0x04, 4}))));
  EXPECT_EQ(State(b)[3], 3);
}

// On the bench: the volume follows the unit, from what its medium holds.
TEST(UfsProduct, AVolumeOnlyWhileTheUnitIsEnabled) {
  platform::ScopedClockScale fast(1000.0);
  ProductConfig config = Ufs(false);
  config.disk.sectors = 131072;
  config.volume.letters = "E";
  config.volume.autoLetter = false;
  BenchConfig bench;
  bench.products = {config};
  auto b = std::make_shared<Bench>(bench);
  platform::ScopedBackend installed(b);
  const uint32_t e = 1u << ('E' - 'A');
  EXPECT_EQ(platform::GetLogicalDrives() & e, 0u) << "a disabled unit has no volume";
  const std::string image = b->product(0).WithBridge([](EmulatedBridge& bridge) { return bridge.disk().path(); });
  ASSERT_EQ(std::system(("echo '2048,,7' | sfdisk -q '" + image + "' >/dev/null 2>&1").c_str()), 0);
  ASSERT_TRUE(b->product(0).WithBridge([](EmulatedBridge& bridge) { return Good(Out(bridge, Cdb({0xE6, 0x02}))); }));
  platform::Sleep(2500);
  EXPECT_NE(platform::GetLogicalDrives() & e, 0u) << "the enabled unit's volume arrived";
}

}  // namespace
}  // namespace sim
