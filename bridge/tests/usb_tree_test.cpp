// The hub walk against the bench: slot numbering and the give-back rules,
// the 16-slot limit across hubs, the power-control record, every root-hub
// name, whole-id matching of long ids, port speeds, and the re-read of a port
// after its product was reset.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/tests/usb_bench_fixture.h"
#include "bridge/usb_tree.h"
#include "bridge/vendor_commands.h"
#include "platform/clock.h"

namespace bridge::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

constexpr char kPortLimitText[] = "Error: Port index exceeds maximum value 16.";
constexpr char kUsbInfoText[] = "Failed to acquire USB information.";
constexpr uint32_t kMbTaskModal = 0x2000;

class UsbTreeTest : public UsbBenchTest {};

constexpr char kMixedTree[] = R"(
[hub root]
ports = 6

[product first]
hub = root
port = 1
chip = 4
serial = FIRST001

[device mouse]
hub = root
port = 2
serial = MOUSE001
vid = 0x046D
pid = 0xC077
manufacturer = Rodent Works
product = Optical Mouse

[product noserial]
hub = root
port = 3
chip = 4
serial =

[product foreign]
hub = root
port = 4
foreign = 1
serial = FOREIGN1

[hub ext]
parent = root
port = 5
ports = 4

[product second]
hub = ext
port = 1
chip = 21
serial = SECOND01

[product third]
hub = ext
port = 3
chip = 13
serial = THIRD001

[product last]
hub = root
port = 6
chip = 4
serial = LAST0001
)";

TEST_F(UsbTreeTest, SlotsGoInWalkOrderAndOnlyWantedDevicesKeepOne) {
  Load(kMixedTree);
  Scan();
  EXPECT_GE(Walk(), 1);
  EXPECT_THAT(SlotsWithSerial("FIRST001"), ElementsAre(1));
  EXPECT_THAT(SlotsWithSerial("MOUSE001"), ElementsAre(2));  // no storage: keeps its slot
  EXPECT_THAT(SlotsWithSerial("SECOND01"), ElementsAre(3));  // the hub below port 5, depth first
  EXPECT_THAT(SlotsWithSerial("THIRD001"), ElementsAre(4));
  EXPECT_THAT(SlotsWithSerial("LAST0001"), ElementsAre(5));
  EXPECT_THAT(SlotsWithSerial("?"), IsEmpty());          // no serial string: no slot
  EXPECT_THAT(SlotsWithSerial("FOREIGN1"), IsEmpty());   // ChipType 0: no slot
  for (int n = 6; n <= kPortCount; ++n) EXPECT_EQ(table_.slot(n)->inUse, 0) << n;
  EXPECT_EQ(bench_->OpenHandleCount(), 0);
  EXPECT_THAT(boxes_.boxes(), IsEmpty());
}

TEST_F(UsbTreeTest, ASlotHoldsWhereTheDeviceSitsAndWhatItSays) {
  Load(kMixedTree);
  Scan();
  Walk();
  struct Expect {
    int slot;
    const char* name;
    const char* hub;
    int port;
  };
  for (const Expect& e : {Expect{1, "first", "root", 1}, Expect{3, "second", "ext", 1},
                          Expect{4, "third", "ext", 3}, Expect{5, "last", "root", 6}}) {
    const PortRecord& slot = *table_.slot(e.slot);
    const sim::Product& product = *bench_->FindByName(e.name);
    EXPECT_EQ(slot.walkIndex, e.slot) << e.name;
    EXPECT_EQ(slot.hubPort, e.port) << e.name;
    // A root hub by its interface path, a hub below it by "\\.\" and its name.
    const std::string hubName(FieldText(slot.hubName));
    if (std::string(e.hub) == "root") {
      EXPECT_EQ(hubName, bench_->HubPath(e.hub)) << e.name;
    } else {
      EXPECT_EQ(hubName.substr(0, 4), "\\\\.\\") << e.name;
      EXPECT_EQ(Lower(hubName.substr(4)), Lower(bench_->HubPath(e.hub).substr(4))) << e.name;
    }
    EXPECT_EQ(FieldText(slot.instanceId), Lower(product.usbInstanceId())) << e.name;
    EXPECT_FALSE(FieldText(slot.driverKey).empty()) << e.name;
    EXPECT_EQ(slot.vid, product.config().vid) << e.name;
    EXPECT_EQ(slot.pid, product.config().pid) << e.name;
    EXPECT_EQ(FieldText(slot.manufacturer), product.config().manufacturer) << e.name;
    EXPECT_EQ(FieldText(slot.product), product.config().product) << e.name;
    EXPECT_EQ(FindStorageEntryOfPort(slot, entries_.data(), count_),
              EntryOf(e.name) - entries_.data()) << e.name;
  }
  const PortRecord& mouse = *table_.slot(2);
  EXPECT_EQ(mouse.vid, 0x046D);
  EXPECT_EQ(mouse.pid, 0xC077);
  EXPECT_EQ(FieldText(mouse.manufacturer), "Rodent Works");
  EXPECT_EQ(FieldText(mouse.product), "Optical Mouse");
  EXPECT_EQ(FindStorageEntryOfPort(mouse, entries_.data(), count_), -1);
}

TEST_F(UsbTreeTest, TheSeventeenthDeviceBringsTheLimitAndOtherHubsAreStillWalked) {
  std::string text = "[hub a]\nports = 10\nroot = root_hub30\n"
                     "[hub b]\nports = 10\nroot = root_hub20\n"
                     "[hub c]\nports = 4\nroot = root_hub\n";
  for (int i = 1; i <= 18; ++i) {
    const char* hub = i <= 10 ? "a" : i <= 17 ? "b" : "c";
    char block[160];
    std::snprintf(block, sizeof block, "[product p%02d]\nhub = %s\nchip = 4\nserial = SER%05d\n", i,
                  hub, i);
    text += block;
  }
  Load(text);
  Scan();
  Walk();
  for (int n = 1; n <= kPortCount; ++n) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SER%05d", n);
    EXPECT_EQ(FieldText(table_.slot(n)->usbSerial), serial) << n;
  }
  EXPECT_THAT(SlotsWithSerial("SER00017"), IsEmpty());
  EXPECT_THAT(SlotsWithSerial("SER00018"), IsEmpty());
  // Hub b meets the limit at its seventh product, hub c at its first.
  const auto limits = BoxesWithText(kPortLimitText);
  ASSERT_THAT(limits, SizeIs(2));
  for (const auto& box : limits) {
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.flags & 0xF0u, platform::kMbIconError);
  }
}

TEST_F(UsbTreeTest, ThePowerControlDeviceGoesToItsOwnRecordOnlyInTypeCMode) {
  constexpr char kFixture[] = R"(
[hub root]
ports = 4
[product bridge]
port = 1
chip = 4
serial = BRIDGE01
[device power]
hub = root
port = 2
serial = 6A3E41649000123
product = Power Box
)";
  struct Case {
    int32_t typeC;
    std::vector<int> powerSlots;
    const char* eppSerial;
  };
  for (const Case& c : {Case{0, {2}, ""}, Case{1, {}, "6A3E41649000123"}}) {
    Load(kFixture);
    epp_ = EppDeviceRecord{};
    Scan();
    Walk(c.typeC);
    EXPECT_EQ(SlotsWithSerial("6A3E41649000123"), c.powerSlots) << c.typeC;
    EXPECT_THAT(SlotsWithSerial("BRIDGE01"), ElementsAre(1)) << c.typeC;
    EXPECT_EQ(FieldText(epp_.usbSerial), c.eppSerial) << c.typeC;
    if (c.typeC) {
      EXPECT_EQ(epp_.hubPort, 2);
      EXPECT_EQ(FieldText(epp_.product), "Power Box");
      EXPECT_EQ(FieldText(epp_.hubName), bench_->HubPath("root"));
    }
  }
}

TEST_F(UsbTreeTest, EveryRootHubNameIsWalked) {
  for (std::string_view name : kRootHubNames) {
    Load("[hub r]\nroot = " + std::string(name) + "\n[product p]\nhub = r\nchip = 4\nserial = ROOT0001\n");
    Scan();
    Walk();
    EXPECT_THAT(SlotsWithSerial("ROOT0001"), ElementsAre(1)) << name;
    EXPECT_THAT(FieldText(table_.slot(1)->hubName), ::testing::HasSubstr(std::string(name))) << name;
  }
}

TEST_F(UsbTreeTest, TheSixtyFourthHubInterfaceEndsTheListingWithAWarning) {
  constexpr char kWarningText[] = "Warning: Root device count exceeds maximum device count:64.";
  struct Case {
    int hubs;
    int handled;
    size_t warnings;
  };
  for (const Case& c : {Case{63, 63, 0}, Case{64, 64, 1}, Case{65, 64, 1}}) {
    std::string text;
    for (int i = 0; i < c.hubs; ++i) text += "[hub h" + std::to_string(i) + "]\nports = 1\n";
    Load(text);
    const size_t before = boxes_.boxes().size();
    EXPECT_EQ(Walk(), c.handled) << c.hubs;
    const auto boxes = boxes_.boxes();
    ASSERT_EQ(boxes.size() - before, c.warnings) << c.hubs;
    for (size_t i = before; i < boxes.size(); ++i) {
      EXPECT_EQ(boxes[i].text, kWarningText);
      EXPECT_EQ(boxes[i].caption, "WARNING");
      EXPECT_EQ(boxes[i].flags & 0xF0u, platform::kMbIconWarning);
    }
  }
}

TEST_F(UsbTreeTest, LongIdsMatchWholeAndIdsSharingTheirStartDoNot) {
  // Two ids of 112 characters that differ only in the last; the unknown
  // bridge is listed first, so a match on the first 79 characters would take
  // the known one's slot away.
  const std::string common(89, 'S');
  const std::string longName(100, 'M');
  Load("[product unknown]\nforeign = 1\nserial = " + common + "B\n"
       "[product known]\nchip = 4\nserial = " + common + "A\nmanufacturer = " + longName + "\n");
  Scan();
  Walk();
  ASSERT_EQ(table_.slot(1)->inUse, 1);
  EXPECT_EQ(table_.slot(2)->inUse, 0);
  const PortRecord& known = *table_.slot(1);
  EXPECT_EQ(FieldText(known.manufacturer), std::string(kRecordTextSize - 1, 'M'));
  EXPECT_EQ(FieldText(known.instanceId),
            Lower(bench_->FindByName("known")->usbInstanceId()).substr(0, kRecordTextSize - 1));
  EXPECT_EQ(FindStorageEntryOfPort(known, entries_.data(), count_), EntryOf("known") - entries_.data());
}

TEST(InstanceIdMatchTest, WholeIdsWithoutCaseAndEmptyNeverMatches) {
  struct Case {
    const char* id;
    const char* parent;
    bool matches;
  };
  const Case cases[] = {
      {"USB\\VID_1D6B&PID_0100\\0001", "usb\\vid_1d6b&pid_0100\\0001", true},
      {"usb\\vid_1d6b&pid_0100\\0001", "usb\\vid_1d6b&pid_0100\\00012", false},
      {"usb\\vid_1d6b&pid_0100\\00012", "usb\\vid_1d6b&pid_0100\\0001", false},
      {"", "", false},
      {"", "usb\\x", false},
      {"usb\\x", "", false},
      {"usb\\x", nullptr, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InstanceIdMatches(c.id, c.parent), c.matches) << c.id << " / " << (c.parent ? c.parent : "(null)");
  }
}

constexpr char kSpeedBench[] = R"(
[hub root]
ports = 6
speed = superplus
[product hs]
port = 1
chip = 4
serial = HS000001
speed = high
[product ss]
port = 2
chip = 21
serial = SS000001
speed = super
[product ssp]
port = 3
chip = 27
serial = SSP00001
speed = superplus
[device mouse]
hub = root
port = 4
serial = MOUSE001
speed = full
[device keys]
hub = root
port = 5
serial = KEYS0001
speed = low
)";

TEST_F(UsbTreeTest, PortSpeedKeepsLowAndFullSpeedAndRefinesSuperSpeed) {
  struct Os {
    uint32_t major, minor;
    int32_t superPlus;  // before Windows 8 the EX V2 query is not there to refine a 3
  };
  for (const Os os : {Os{10, 0, kUsbSpeedSuperPlus}, Os{6, 2, kUsbSpeedSuperPlus},
                      Os{6, 1, kUsbSpeedSuper}, Os{5, 1, kUsbSpeedSuper}}) {
    Load(kSpeedBench);
    bench_->SetOsVersion(os.major, os.minor, 0);
    const std::string hub = bench_->HubPath("root");
    const std::vector<int32_t> speeds = {
        GetPortSpeed(hub.c_str(), 1), GetPortSpeed(hub.c_str(), 2), GetPortSpeed(hub.c_str(), 3),
        GetPortSpeed(hub.c_str(), 4), GetPortSpeed(hub.c_str(), 5)};
    EXPECT_THAT(speeds, ElementsAre(kUsbSpeedHigh, kUsbSpeedSuper, os.superPlus, kUsbSpeedFull,
                                    kUsbSpeedLow))
        << os.major << "." << os.minor;
  }
  EXPECT_THAT(boxes_.boxes(), IsEmpty());
}

TEST_F(UsbTreeTest, APortThatCannotBeAskedIsUnknownAndNeverSuperSpeed) {
  Load(kSpeedBench);
  const int32_t speed = GetPortSpeed("\\\\.\\NO_SUCH_HUB", 1);
  EXPECT_EQ(speed, kUsbSpeedUnknown);
  EXPECT_FALSE(IsSuperSpeed(speed));
  const auto failures = BoxesWithText(kUsbInfoText);
  ASSERT_FALSE(failures.empty());
  for (const auto& box : failures) {
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.flags & 0xF0u, platform::kMbIconError);
    EXPECT_NE(box.flags & kMbTaskModal, 0u);
  }
}

TEST_F(UsbTreeTest, AfterAResetTheProductIsReadAgainOnItsSlot) {
  Load(R"(
[hub root]
ports = 4
[product a]
port = 1
chip = 4
serial = A0000001
[product b]
port = 2
chip = 21
serial = B0000001
reset_new_path = 1
[product c]
port = 3
chip = 13
serial = C0000001
)");
  Scan();
  Walk();
  ASSERT_THAT(SlotsWithSerial("B0000001"), ElementsAre(2));
  sim::Product& b = *bench_->FindByName("b");
  const std::string oldPath = b.path();
  const std::string hub(FieldText(table_.slot(2)->hubName));
  const uint32_t port = static_cast<uint32_t>(table_.slot(2)->hubPort);
  PortRecord& record = *table_.slot(2);
  {
    platform::ScopedClockScale realTime(1.0);
    ASSERT_EQ(ResetBridge(oldPath.c_str()), 1);
    SetFieldText(record.instanceId, "");
    EXPECT_EQ(GetOnePortData(table_, hub.c_str(), port, record, 2), 0);  // off the bus
    EXPECT_EQ(FieldText(record.instanceId), "");
  }
  platform::Sleep(b.config().resetDelayMs + 1000);
  SetFieldText(record.usbSerial, "");
  ASSERT_EQ(GetOnePortData(table_, hub.c_str(), port, record, 2), 1);
  EXPECT_EQ(FieldText(record.instanceId), Lower(b.usbInstanceId()));
  EXPECT_EQ(FieldText(record.usbSerial), "B0000001");
  EXPECT_EQ(FieldText(record.hubName), hub);
  EXPECT_EQ(record.inUse, 1);

  // The next enumeration finds the new interface path and the same slot.
  EXPECT_NE(b.path(), oldPath);
  Scan();
  Walk();
  EXPECT_THAT(SlotsWithSerial("B0000001"), ElementsAre(2));
  ASSERT_NE(EntryOf("b"), nullptr);
  EXPECT_EQ(FindStorageEntryOfPort(*table_.slot(2), entries_.data(), count_),
            EntryOf("b") - entries_.data());
  EXPECT_EQ(bench_->OpenHandleCount(), 0);
}

}  // namespace
}  // namespace bridge::testing
