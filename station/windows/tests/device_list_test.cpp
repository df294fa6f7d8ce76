// The device list refresh on the bench: what the attached chip mix makes of
// the settings controls, START and auto-start, and the Type-C power switch.
#include <QLabel>
#include <QTreeWidget>

#include <algorithm>
#include <optional>

#include "platform/clock.h"
#include "platform/usb_ioctl.h"
#include "station/epp_power.h"
#include "station/windows/tests/window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::Products;
using testing::WindowTest;

constexpr char kMultipleModels[] = "Multiple devices must be of the same Chip model!";
constexpr char kInterleave[] = "Not Support interleave QV646 & Non-QV646 EEPROM Batch Operation!";
constexpr char kCapacity[] = "Check the Capacity check setting!!";
// An 80 GB disk (decimal): 76293 MB.
constexpr char kDisk80[] = "disk.sectors = 156250000\n";

struct MixCase {
  const char* what;
  std::string bench;
  std::string ini;
  int devices;
  bool start;
  bool autoStartReady;
  std::vector<QString> typeItems;  // empty: not checked
  int typeItem;
  std::vector<std::string> messages;  // shown, in order
  bool anyQvs646 = false;
  bool mixedQvs646 = false;
  int32_t interleave = kInterleaveNoQvs646;
  bool eepromUpdateEnabled = true;
  bool firmwareGroup = true;
};

std::vector<MixCase> MixCases() {
  const std::vector<QString> standard = {"Type 1", "Type 2", "Type 3"};
  const std::string fw = "[QVEXECUTE]\r\nEnFWUpdate=1\r\n";
  return {
      {"none", "", Ini(""), 0, false, false, {}, 0, {}},
      {"QVS646 only", Products(29, 2), Ini(""), 2, true, false, {"Normal", "Type 3"}, 1, {}, true, false,
       kInterleaveOnlyQvs646},
      {"QVS646 with another", Products(29, 1) + Products(21, 1), Ini(""), 2, false, false, standard, 2,
       {kInterleave, kMultipleModels}, true, true, kInterleaveMixed, false},
      {"two models, firmware update", Products(21, 1) + Products(13, 1), Ini("", fw), 2, false, false, standard, 2,
       {kMultipleModels}},
      // A QVS887 with USB 3 switched off is not listed, so it is no second model.
      {"USB 3 off QVS887", Products(21, 1) + Products(25, 1, "usb3 = 0\n"), Ini("", fw), 1, true, false, standard,
       2, {}},
      {"sixteen alike", Products(21, 16), Ini(""), 16, true, false, standard, 2, {}},
      {"sixteen of two models", Products(21, 8) + Products(13, 8), Ini(""), 16, false, false, standard, 2,
       {kMultipleModels}},
      {"MPDevCount 4 with 3", Products(21, 3), Ini("MPDevCount=4"), 3, false, false, standard, 2, {}},
      {"capacity fits", Products(21, 2, kDisk80), Ini("", "[QVEXECUTE]\r\nCapacity=80\r\n"), 2, true, false,
       standard, 2, {}},
      {"capacity misfit", Products(21, 2, kDisk80), Ini("", "[QVEXECUTE]\r\nCapacity=120\r\n"), 2, false, false,
       standard, 2, {kCapacity}},
      {"clone: no capacity check", Products(21, 2, kDisk80),
       Ini("", "[QVEXECUTE]\r\nCapacity=120\r\nEnCloneProduct=1\r\n"), 2, true, false, standard, 2, {}},
      {"auto-run ready", Products(21, 2), Ini("MPAutorun=1"), 2, false, true, standard, 2, {}},
      {"auto-run not ready", Products(21, 3), Ini("MPAutorun=1\r\nMPDevCount=2"), 3, false, false, standard, 2, {}},
      {"no Type 3 chip", Products(31, 1), Ini(""), 1, true, false, {"Type 1", "Type 2"}, 1, {}, false, false,
       kInterleaveNoQvs646, true, false},
  };
}

TEST_F(WindowTest, AttachedMixShapesTheWindow) {
  for (const MixCase& c : MixCases()) {
    SCOPED_TRACE(c.what);
    form_.reset();
    bench_.reset();
    boxes_.clear();
    WriteIni(c.ini);
    Bench(c.bench);
    TMainForm& form = Start();
    const DeviceMix& mix = form.Mix();
    EXPECT_EQ(form.DeviceCount(), c.devices);
    EXPECT_EQ(form.Pass().PresentDeviceCount.load(), c.devices);
    EXPECT_EQ(form.Pass().RelinkIdleCount.load(), c.devices);
    EXPECT_EQ(Button("ExecuteBtn")->isEnabled(), c.start);
    EXPECT_EQ(mix.AutoStartReady, c.autoStartReady);
    EXPECT_EQ(mix.AnyQvs646, c.anyQvs646);
    EXPECT_EQ(mix.MixedQvs646, c.mixedQvs646);
    EXPECT_EQ(form.InterleaveMode(), c.interleave);
    EXPECT_EQ(Enabled("EEPROMCheckBox"), c.eepromUpdateEnabled);
    EXPECT_EQ(Shown("GroupBox3"), c.firmwareGroup);
    EXPECT_EQ(Messages(), c.messages);
    if (!c.typeItems.empty()) {
      QComboBox* type = Combo("EEPROMType");
      std::vector<QString> items;
      for (int i = 0; i < type->count(); ++i) items.push_back(type->itemText(i));
      EXPECT_EQ(items, c.typeItems);
      EXPECT_EQ(type->currentIndex(), c.typeItem);
      EXPECT_EQ(form.Settings().TableType, c.typeItem + 1);
      EXPECT_FALSE(Enabled("EEPROMType"));
    }
    int present = 0;
    const QTreeWidget* tree = Find<QTreeWidget>("TreeView1");
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
      present += tree->topLevelItem(i)->data(0, Qt::UserRole).toInt();
    EXPECT_EQ(present, c.devices);
  }
}

TEST_F(WindowTest, NothingAttached) {
  TMainForm& form = Start();
  EXPECT_EQ(portUpdates_.count, 1);
  EXPECT_EQ(Button("SafeRmBtn")->palette().color(QPalette::ButtonText), QColor(0, 0x80, 0));
  EXPECT_FALSE(Shown("USB3Panel"));
  EXPECT_FALSE(form.Mix().AutoStartReady);
  form.RefreshBtnClick();
  Pump();
  EXPECT_EQ(portUpdates_.count, 2);
}

TEST_F(WindowTest, Usb3PanelTellsTheSlowestPort) {
  struct Case {
    std::string bench;
    const char* text;
    QColor color;
  };
  const Case cases[] = {
      {Products(21, 2, "speed = superplus\n"), "USB 3.1 Gen 2", QColor(0, 0, 0xFF)},
      {"[product a]\nchip = 21\nserial = 1\nspeed = superplus\n[product b]\nchip = 21\nserial = 2\nspeed = super\n",
       "USB 3.1 Gen 1", QColor(0, 0, 0xFF)},
      {Products(21, 1, "speed = high\n"), "USB 2.0", QColor(0xFF, 0, 0)},
  };
  for (const Case& c : cases) {
    form_.reset();
    bench_.reset();
    Bench(c.bench);
    Start();
    const auto* panel = Find<QLabel>("USB3Panel");
    EXPECT_TRUE(Shown("USB3Panel"));
    EXPECT_TRUE(Shown("enU3CheckBox"));
    EXPECT_EQ(panel->text(), c.text);
    EXPECT_EQ(panel->palette().color(QPalette::WindowText), c.color) << c.text;
  }
}

// A bench whose hubs do not answer the speed queries (the walk asks them
// other questions).
class SpeedQueryFails : public sim::Bench {
 public:
  using sim::Bench::Bench;
  bool DeviceIoControl(platform::Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t* returned, uint32_t* error) override {
    if (code == platform::kIoctlUsbGetNodeConnectionInformationEx ||
        code == platform::kIoctlUsbGetNodeConnectionInformationExV2) {
      *error = 31;  // the device does not answer
      return false;
    }
    return sim::Bench::DeviceIoControl(handle, code, in, inSize, out, outSize, returned, error);
  }
};

// A port whose speed cannot be read is not counted as SuperSpeed.
TEST_F(WindowTest, UnknownSpeedIsNotSuperSpeed) {
  sim::BenchConfig config;
  std::string error;
  ASSERT_TRUE(sim::Bench::ParseText(Products(21, 1, "speed = super\n"), &config, &error)) << error;
  backend_.reset();
  bench_ = std::make_shared<SpeedQueryFails>(config);
  backend_ = std::make_unique<platform::ScopedBackend>(bench_);
  Start();
  EXPECT_EQ(form_->Pass().ports.records[0].usbSpeed.load(), bridge::kUsbSpeedUnknown);
  EXPECT_EQ(Find<QLabel>("USB3Panel")->text(), "USB 2.0");
  EXPECT_TRUE(Showed("Failed to acquire USB information."));
}

// Every refresh leaves the type list with its item: the second refresh in a
// row runs the type handler with the same layout as the first.
TEST_F(WindowTest, EveryRefreshKeepsAnEepromType) {
  for (int chip : {21, 31}) {
    form_.reset();
    bench_.reset();
    Bench(Products(chip, 1));
    TMainForm& form = Start();
    const int32_t tableType = form.Settings().TableType;
    EXPECT_GT(tableType, 0);
    for (int round = 0; round < 3; ++round) {
      form.RefreshBtnClick();
      EXPECT_EQ(form.Settings().TableType, tableType) << chip << " round " << round;
      EXPECT_GE(Combo("EEPROMType")->currentIndex(), 0);
    }
  }
}

// In auto-run, a refresh that finds only unsupported devices takes back the
// start that the refresh before it allowed.
TEST_F(WindowTest, NothingUsableClearsAutoStart) {
  WriteIni(Ini("MPAutorun=1"));
  Bench(Products(21, 1) + Products(25, 1, "usb3 = 0\n"));
  TMainForm& form = Start();
  EXPECT_TRUE(form.Mix().AutoStartReady);
  bench_->FindByName("c21_0")->Unplug();
  form.RefreshBtnClick();
  EXPECT_EQ(form.DeviceCount(), 0);
  EXPECT_FALSE(form.Mix().AutoStartReady);
  EXPECT_FALSE(Button("ExecuteBtn")->isEnabled());
  // The removed product's node is empty again.
  EXPECT_EQ(Find<QTreeWidget>("TreeView1")->topLevelItem(0)->data(0, Qt::UserRole).toInt(), 0);
}

// With everything unplugged no chip family is attached any more.
TEST_F(WindowTest, NothingAttachedAnyMoreClearsTheFamilies) {
  Bench(Products(29, 1));
  TMainForm& form = Start();
  EXPECT_TRUE(form.Mix().AnyQvs646);
  bench_->FindByName("c29_0")->Unplug();
  form.RefreshBtnClick();
  EXPECT_FALSE(form.Mix().AnyQvs646);
  EXPECT_EQ(form.DeviceCount(), 0);
  QTest::mouseClick(Box("EEPROMCheckBox"), Qt::LeftButton);
  EXPECT_FALSE(Shown("GroupBox4"));
}

// A user-defined capacity that is no number checks against 0: the capacity
// message, no start, and the rest of the refresh still done.
TEST_F(WindowTest, UserCapacityThatIsNoNumber) {
  WriteIni(Ini("", "[QVEXECUTE]\r\nCapacity=1\r\nCapacityCustomize=80\r\n"));
  Bench(Products(21, 1, kDisk80));
  TMainForm& form = Start();
  EXPECT_TRUE(Button("ExecuteBtn")->isEnabled());
  Edit("CapacityUserDefEdit")->setText("8x0");
  boxes_.clear();
  const int updates = portUpdates_.count;
  form.RefreshBtnClick();
  Pump();
  EXPECT_EQ(Messages(), std::vector<std::string>{kCapacity});
  EXPECT_EQ(form.Settings().CapacityCustomize, 0);
  EXPECT_FALSE(Button("ExecuteBtn")->isEnabled());
  EXPECT_EQ(portUpdates_.count, updates + 1);
  EXPECT_TRUE(Shown("USB3Panel"));
}

// The firmware box that a refresh unchecks brings no refresh of its own.
TEST_F(WindowTest, UncheckedFirmwareBoxDoesNotRefreshAgain) {
  WriteFile("fw.bin", std::string(64, '\0'));
  WriteIni(Ini("", "[QVEXECUTE]\r\nEnFWUpdate=1\r\nFwFileName=" + Path("fw.bin") + "\r\n"));
  // A QVS646 first: it takes any file that is not another family's.
  Bench(Products(29, 1) + Products(21, 1));
  TMainForm& form = Start();
  EXPECT_FALSE(Box("FWUpdateCheckBox")->isChecked());
  EXPECT_EQ(form.FirmwareFileAccepted(), 1);  // the box's handler would have rescanned
  EXPECT_EQ(portUpdates_.count, 1);
  const std::vector<std::string> messages = Messages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), kMultipleModels), 1);
  EXPECT_EQ(form.MultipleChipModels(), 1);
}

// Unchecking both firmware boxes gives START back only as the last refresh
// left the other start conditions.
TEST_F(WindowTest, FirmwareBoxesGiveStartBackOnlyWhenReady) {
  struct Case {
    std::string ini;
    bool start;
  };
  const Case cases[] = {
      {Ini("", "[QVEXECUTE]\r\nCapacity=80\r\n"), true},
      {Ini("", "[QVEXECUTE]\r\nCapacity=120\r\n"), false},
      {Ini("MPDevCount=3"), false},
  };
  for (const Case& c : cases) {
    form_.reset();
    bench_.reset();
    WriteIni(c.ini);
    Bench(Products(21, 2, kDisk80));
    Start();
    Box("FWUpdateCheckBox")->setChecked(true);
    Button("ExecuteBtn")->setEnabled(false);
    Box("FWUpdateCheckBox")->setChecked(false);
    EXPECT_EQ(Button("ExecuteBtn")->isEnabled(), c.start) << c.ini;
    EXPECT_FALSE(Enabled("LoadFWButton"));
  }
}

TEST_F(WindowTest, Qvs87xLocksTheDiskStepsAndShowsTheSourceBoxes) {
  Bench(Products(22, 1));
  Start();
  for (const char* name : {"PartitionCheckBox", "FormatCheckBox", "FmtTypeComboBox", "RWTestCheckBox",
                           "SWCopyChkBox", "CapChkCmbx", "CapacityUserDefEdit", "vfHDDFWRevChk"})
    EXPECT_FALSE(Enabled(name)) << name;
  EXPECT_TRUE(Shown("ManuProdSosctlchk"));
  EXPECT_TRUE(Shown("InquirySosctlchk"));
  EXPECT_TRUE(Box("StrA2DiskStrChk")->isChecked());
  EXPECT_FALSE(Enabled("StrA2DiskStrChk"));
  EXPECT_EQ(Find<QLabel>("StrALabel")->text(), "   HDD.String");
  EXPECT_TRUE(Shown("StringCEdit"));
  EXPECT_EQ(Edit("StringBEdit")->y(), Edit("StringCEdit")->y() + 24);
}

// ---- The Type-C power switch

constexpr char kEppFixture[] = "[product epp]\nchip = 6\nserial = 6A3E41649000001\n";

// The register commands of the power step, in the order they reached the
// switch: ('R'|'W', register) or ('I', 0) for the identification.
std::vector<std::pair<char, uint16_t>> PowerCommands(sim::Product& product) {
  std::vector<std::pair<char, uint16_t>> commands;
  for (const sim::TraceEntry& t : product.TakeTrace()) {
    if (t.cdb.size() < 12 || t.cdb[0] != 0xDF) continue;
    const auto reg = static_cast<uint16_t>(t.cdb[6] << 8 | t.cdb[7]);
    if (t.cdb[11] == 0xFF) commands.push_back({'I', 0});
    if ((t.cdb[11] == 0xFD || t.cdb[11] == 0xFE) && reg >= 0x7054 && reg <= 0x7059)
      commands.push_back({t.cdb[11] == 0xFD ? 'R' : 'W', reg});
  }
  return commands;
}

TEST_F(WindowTest, PowerSwitchOnAtFirstSightOnly) {
  WriteIni(Ini("EnEPPTypeC=1"));
  Bench(kEppFixture);
  sim::Product& epp = *bench_->FindByName("epp");
  epp.WithBridge([](sim::EmulatedBridge& b) {
    b.registers()[0x7055] = 0xFF;
    return 0;
  });
  epp.EnableTrace(true);
  TMainForm& form = Start();
  using C = std::vector<std::pair<char, uint16_t>>;
  EXPECT_EQ(PowerCommands(epp), (C{{'R', 0x7054}, {'W', 0x7054}, {'I', 0}, {'W', 0x7058}}));
  EXPECT_EQ(form.Pass().EppPowered, 1);
  EXPECT_EQ(form.DeviceCount(), 0);
  EXPECT_FALSE(Button("ExecuteBtn")->isEnabled());
  const uint8_t outputs = epp.WithBridge([](sim::EmulatedBridge& b) { return b.registers()[0x7059]; });
  const uint8_t setup = epp.WithBridge([](sim::EmulatedBridge& b) { return b.registers()[0x7055]; });
  EXPECT_EQ(setup, 0xE7);
  EXPECT_EQ(outputs & kEppOutputBits, kEppOutputOn);
  EXPECT_EQ(form.Pass().EppGpioShadow.load(), outputs);
  EXPECT_STREQ(form.Pass().EppDevicePath, epp.path().c_str());

  // Powered and on: a later refresh sends nothing to it.
  form.RefreshBtnClick();
  EXPECT_EQ(PowerCommands(epp), C{});
  // An output the shadow says is off is switched off, then on.
  form.Pass().EppGpioShadow = 0x10;
  form.RefreshBtnClick();
  EXPECT_EQ(PowerCommands(epp), (C{{'W', 0x7059}, {'W', 0x7059}}));
  EXPECT_EQ(form.Pass().EppGpioShadow.load(), kEppOutputOn);
}

// A failed command ends the power step there (nothing derived from a failed
// read is written to the switch), says so, and the next refresh starts it
// again.
TEST_F(WindowTest, FailedPowerStepStopsAndIsTriedAgain) {
  // The power reminder's ten seconds pass only in sleeps, not in the host's
  // own work, which a loaded machine can stretch that long.
  platform::ScopedManualClock manual;
  using C = std::vector<std::pair<char, uint16_t>>;
  struct Case {
    std::vector<uint8_t> failing;
    C sent;
  };
  const Case cases[] = {
      {{0xDF, 0x10, 0x00, 0x00, 0x02, 0x00, 0x70, 0x54}, {{'R', 0x7054}}},
      {{0xDF, 0x00, 0x00, 0x00, 0x02, 0x00, 0x70, 0x58}, {{'R', 0x7054}, {'W', 0x7054}, {'I', 0}, {'W', 0x7058}}},
  };
  for (const Case& c : cases) {
    form_.reset();
    boxes_.clear();
    WriteIni(Ini("EnEPPTypeC=1"));
    Bench(kEppFixture);
    sim::Product& epp = *bench_->FindByName("epp");
    sim::Fault fault;
    fault.cdbPrefix = c.failing;
    epp.AddFault(fault);
    epp.EnableTrace(true);
    TMainForm& form = Start();
    EXPECT_EQ(PowerCommands(epp), c.sent);
    EXPECT_EQ(form.Pass().EppPowered, 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{kEppPowerFail});
    form.RefreshBtnClick();
    EXPECT_EQ(PowerCommands(epp).size(), 4u);
    EXPECT_EQ(form.Pass().EppPowered, 1);
    EXPECT_EQ(Messages().size(), 1u);
  }
}

// A product of the switch's chip type with its own serial is a product
// outside the Type-C mode, and not one in it.
TEST_F(WindowTest, ChipTypeSixIsAProductOutsideTheTypeCMode) {
  for (const bool typeC : {false, true}) {
    form_.reset();
    bench_.reset();
    WriteIni(Ini(typeC ? "EnEPPTypeC=1" : ""));
    Bench(Products(6, 1));
    TMainForm& form = Start();
    EXPECT_EQ(form.DeviceCount(), typeC ? 0 : 1);
    EXPECT_EQ(form.Pass().EppPowered, 0);
  }
}

}  // namespace
}  // namespace station
