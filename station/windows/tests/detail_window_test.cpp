// The port picked in the tree and the detail window on the bench: its
// thirteen fields, filled anew on every open, a failed query leaving its
// field empty, the series names, no flash query for the types without one,
// and what a double click does with nothing picked.
#include <QTreeWidget>

#include <string>
#include <vector>

#include "bridge/storage_enumeration.h"
#include "bridge/vendor_commands.h"
#include "station/windows/detail_form.h"
#include "station/windows/tests/window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::WindowTest;

constexpr char kTwoPorts[] =
    "[product a]\nchip = 21\nvid = 0x152D\npid = 0x0578\nmanufacturer = Maker A\nproduct = Bridge A\n"
    "serial = 5A0001\ninquiry.vendor = VEND\ninquiry.product = DISK PRODUCT\ndisk.firmware = FW12\n"
    "disk.sectors = 2097152\nletters = E\nuas = 1\nflash.id = EF 40 14\n"
    "[product b]\nchip = 13\nvid = 0x1D6B\npid = 0x0857\nmanufacturer = Maker B\nproduct = Bridge B\n"
    "serial = 5B0002\ninquiry.vendor = OTHER\ninquiry.product = DRIVE\ndisk.firmware = REV9\n"
    "disk.sectors = 4194304\nletters = F\nflash.id = C2 20 13\n";

sim::Fault FailEvery(std::vector<uint8_t> cdbPrefix) {
  sim::Fault f;
  f.kind = sim::Fault::Kind::CheckCondition;
  f.cdbPrefix = std::move(cdbPrefix);
  f.count = -1;
  return f;
}

class DetailWindowTest : public WindowTest {
 protected:
  TMainForm& StartWithDetail() {
    TMainForm& form = Start();
    detail_ = std::make_unique<TDetailForm>(&form);
    form.SetDetailForm(detail_.get());
    form.show();
    boxes_.clear();  // what the start-up's refresh had to say
    return form;
  }
  ~DetailWindowTest() override {
    if (form_) form_->SetDetailForm(nullptr);
  }

  // A double click in the port list, on no row in particular.
  void DoubleClickList() {
    auto* list = Find<QTreeWidget>("ListView1");
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->viewport()->rect().bottomRight() - QPoint(2, 2));
  }
  std::string Field(const char* name) const { return detail_->findChild<QLineEdit*>(name)->text().toStdString(); }
  int SlotOf(const char* name) const {
    const std::string path = bench_->FindByName(name)->path();
    for (int slot = 0; slot < bridge::kPortCount; ++slot)
      if (bridge::FieldText(form_->Pass().ports.records[static_cast<size_t>(slot)].devicePath) == path) return slot;
    return -1;
  }

  std::unique_ptr<TDetailForm> detail_;
};

TEST_F(DetailWindowTest, ShowsThePickedPortInItsThirteenFields) {
  Bench(kTwoPorts);
  TMainForm& form = StartWithDetail();
  const int slot = SlotOf("a");
  ASSERT_GE(slot, 0);
  ClickPortNode(slot);
  EXPECT_EQ(form.SelectedPort, slot + 1);
  DoubleClickList();
  ASSERT_TRUE(detail_->isVisible());
  EXPECT_EQ(detail_->windowTitle(), "Device Information");
  const std::vector<std::pair<const char*, std::string>> expected = {
      {"ChipIDEdit", "QV41871"},
      {"ModNumEdit", "VEND DISK PRODUCT"},
      {"StringAEdit", "Maker A"},
      {"String3Edit", "5A0001"},
      {"StringBEdit", "Bridge A"},
      {"VendorIDEdit", "0x152D"},
      {"ProductIDEdit", "0x0578"},
      {"DiskLetterEdit", "E"},
      {"HDCapEdit", "1024 MB"},
      {"FwVerEdit", std::string(bridge::FieldText(form.Pass().ports.records[static_cast<size_t>(slot)].firmwareVersion))},
      {"SFlashTypeEdit", "WINBOND"},
      {"HDDFWRevEdit", "FW12"},
      {"DeviceTypeEdit", "UASP"},
  };
  for (const auto& [name, text] : expected) {
    EXPECT_EQ(Field(name), text) << name;
    EXPECT_TRUE(detail_->findChild<QLineEdit*>(name)->isReadOnly()) << name;
  }
  EXPECT_FALSE(Field("FwVerEdit").empty());
  // A QVS87x product is attached: the disk firmware field is off.
  EXPECT_FALSE(detail_->findChild<QLineEdit*>("HDDFWRevEdit")->isEnabled());
}

// Opening again while it shows fills it for the port picked now; a query
// that fails then leaves its field empty, never the other port's text.
TEST_F(DetailWindowTest, EveryOpenFillsAnewAndAFailedQueryLeavesItsFieldEmpty) {
  Bench(kTwoPorts);
  TMainForm& form = StartWithDetail();
  ClickPortNode(SlotOf("a"));
  QTest::mouseClick(Button("DblClickBtn"), Qt::LeftButton);
  ASSERT_TRUE(detail_->isVisible());
  EXPECT_EQ(Field("HDDFWRevEdit"), "FW12");

  ClickPortNode(SlotOf("b"));
  sim::Product& b = *bench_->FindByName("b");
  b.AddFault(FailEvery({0x12}));
  // Its drive answers no IDENTIFY: the bridge's ATA tunnel fails.
  b.AddFault(FailEvery({0xDF}));
  form.DblClickBtnClick();
  EXPECT_EQ(Field("ChipIDEdit"), "QVS857/843 Series");
  EXPECT_EQ(Field("ModNumEdit"), "");
  EXPECT_EQ(Field("HDDFWRevEdit"), "");
  EXPECT_EQ(Field("String3Edit"), "5B0002");
  EXPECT_EQ(Field("DeviceTypeEdit"), "USB");
  EXPECT_EQ(Field("DiskLetterEdit"), "F");
}

// ChipType 20 is named by byte 8 of its configuration block.
TEST_F(DetailWindowTest, TheQvs879IsNamedByItsConfigurationBlock) {
  struct Case {
    const char* what;
    std::vector<sim::Fault> faults;
    const char* chipId;
  };
  const uint8_t configType = 0xB4;  // the bench's QVS879 block byte 8
  const std::vector<uint8_t> readBlock = {0xFF, 0x04, 0xA0};
  sim::Fault byte8Is1;
  byte8Is1.kind = sim::Fault::Kind::CorruptData;
  byte8Is1.cdbPrefix = readBlock;
  byte8Is1.offset = 8;
  byte8Is1.xorMask = static_cast<uint8_t>(configType ^ 1);
  const Case cases[] = {
      {"byte 8 not 1", {}, "QVS876 Series"},
      {"byte 8 is 1", {byte8Is1}, "QVS877/878 Series"},
      {"block unreadable", {FailEvery(readBlock)}, "QVS878/877/876 Series"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bench("[product q]\nchip = 20\n");
    TMainForm& form = StartWithDetail();
    for (const sim::Fault& f : c.faults) bench_->FindByName("q")->AddFault(f);
    ClickPortNode(SlotOf("q"));
    form.DblClickBtnClick();
    EXPECT_EQ(Field("ChipIDEdit"), c.chipId);
    EXPECT_TRUE(detail_->findChild<QLineEdit*>("HDDFWRevEdit")->isEnabled());
  }
}

// The chips without a flash of their own are asked nothing about it: the
// window sends exactly the INQUIRY and the IDENTIFY, nothing else.
TEST_F(DetailWindowTest, NoFlashQueryForChipTypes8And17) {
  for (const int chipType : {8, 17, 9}) {
    SCOPED_TRACE(chipType);
    Bench("[product p]\nchip = " + std::to_string(chipType) + "\n");
    TMainForm& form = StartWithDetail();
    sim::Product& p = *bench_->FindByName("p");
    ClickPortNode(SlotOf("p"));
    p.EnableTrace(true);
    form.DblClickBtnClick();
    const std::vector<sim::TraceEntry> shown = p.TakeTrace();
    uint8_t buffer[512];
    static_cast<void>(bridge::Inquiry(p.path().c_str(), buffer, 40));
    static_cast<void>(bridge::IdentifyDevice(p.path().c_str(), buffer, 0));
    const std::vector<sim::TraceEntry> queries = p.TakeTrace();
    std::vector<std::vector<uint8_t>> shownCdbs, queryCdbs;
    for (const auto& e : shown) shownCdbs.push_back(e.cdb);
    for (const auto& e : queries) queryCdbs.push_back(e.cdb);
    if (chipType == 9) {
      EXPECT_GT(shownCdbs.size(), queryCdbs.size());  // its flash is asked for
      EXPECT_NE(Field("SFlashTypeEdit"), "");
    } else {
      EXPECT_EQ(shownCdbs, queryCdbs);
      EXPECT_EQ(Field("SFlashTypeEdit"), "Unknown");
    }
  }
}

TEST_F(DetailWindowTest, AFirmwareVersionNotAcceptedShowsInternalCode) {
  Bench("[product p]\nchip = 13\ninternal_code = 1\n");
  TMainForm& form = StartWithDetail();
  ClickPortNode(SlotOf("p"));
  form.DblClickBtnClick();
  EXPECT_EQ(Field("FwVerEdit"), "Internal code");
}

// A double click with nothing picked: a reminder only when products are
// attached and RD Version is checked, else nothing. With a port picked but
// RD Version unchecked, its drive letter is looked up again, no window.
TEST_F(DetailWindowTest, DoubleClickWithNothingPickedOrRdVersionUnchecked) {
  struct Case {
    const char* what;
    const char* setting;  // MPVersion=1 starts with RD Version unchecked
    std::string bench;
    bool message;
  };
  const Case cases[] = {
      {"RD Version checked, products attached", "", kTwoPorts, true},
      {"RD Version unchecked", "MPVersion=1", kTwoPorts, false},
      {"nothing attached", "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    boxes_.clear();
    WriteIni(Ini(c.setting));
    Bench(c.bench);
    StartWithDetail();
    DoubleClickList();
    DoubleClickList();
    EXPECT_EQ(Messages(), c.message ? std::vector<std::string>(2, "Please select one port to display by left port view first!!")
                                    : std::vector<std::string>{});
    EXPECT_FALSE(detail_->isVisible());
  }
}

TEST_F(DetailWindowTest, APickedPortWithRdVersionUncheckedHasItsLetterFoundAgain) {
  WriteIni(Ini("MPVersion=1"));
  Bench(kTwoPorts);
  StartWithDetail();
  const int slot = SlotOf("a");
  bridge::PortRecord& record = form_->Pass().ports.records[static_cast<size_t>(slot)];
  record.driveLetter = 0;
  ClickPortNode(slot);
  DoubleClickList();
  EXPECT_EQ(record.driveLetter.load(), 'E');
  EXPECT_FALSE(detail_->isVisible());
  EXPECT_TRUE(Messages().empty());
}

}  // namespace
}  // namespace station
