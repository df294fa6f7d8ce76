// The window layouts hold every control by its name, of the kind the code
// and the settings load treat it as, with the captions the operator reads.
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>
#include <QStatusBar>
#include <QTreeWidget>

#include "station/windows/clock_timer.h"
#include "station/windows/detail_form.h"
#include "station/windows/pass_form.h"
#include "station/windows/tests/window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::WindowTest;

enum class Kind { kButton, kCheck, kEdit, kCombo, kGroup, kFrame, kLabel, kTree, kStatusBar, kProgress, kWidget };

bool IsKind(const QObject* o, Kind kind) {
  switch (kind) {
    case Kind::kButton: return qobject_cast<const QPushButton*>(o);
    case Kind::kCheck: return qobject_cast<const QCheckBox*>(o);
    case Kind::kEdit: return qobject_cast<const QLineEdit*>(o);
    case Kind::kCombo: return qobject_cast<const QComboBox*>(o);
    case Kind::kGroup: return qobject_cast<const QGroupBox*>(o);
    case Kind::kFrame: return qobject_cast<const QFrame*>(o);
    case Kind::kLabel: return qobject_cast<const QLabel*>(o);
    case Kind::kTree: return qobject_cast<const QTreeWidget*>(o);
    case Kind::kStatusBar: return qobject_cast<const QStatusBar*>(o);
    case Kind::kProgress: return qobject_cast<const QProgressBar*>(o);
    case Kind::kWidget: return qobject_cast<const QWidget*>(o);
  }
  return false;
}

struct Named {
  const char* name;
  Kind kind;
  const char* caption;  // null: not checked
};

// The main window's controls as the station's text names them.
constexpr Named kMainControls[] = {
    {"ExecuteBtn", Kind::kButton, "START"},
    {"RefreshBtn", Kind::kButton, nullptr},
    {"SafeRmBtn", Kind::kButton, "Safe Remove"},
    {"CloseBtn", Kind::kButton, nullptr},
    {"INILoadBtn", Kind::kButton, "Load INI"},
    {"INISaveBtn", Kind::kButton, "Save INI"},
    {"LoadFWButton", Kind::kButton, nullptr},
    {"ResetYieldBtn", Kind::kButton, nullptr},
    {"DblClickBtn", Kind::kButton, nullptr},
    {"btnStartTest2", Kind::kButton, nullptr},
    {"BtnStopTest", Kind::kButton, "Stop Test"},
    {"RDCheck", Kind::kCheck, "RD Version"},
    {"PartitionCheckBox", Kind::kCheck, nullptr},
    {"cbCloneProduct", Kind::kCheck, nullptr},
    {"FormatCheckBox", Kind::kCheck, nullptr},
    {"RWTestCheckBox", Kind::kCheck, nullptr},
    {"EEPROMCheckBox", Kind::kCheck, nullptr},
    {"FWUpdateCheckBox", Kind::kCheck, nullptr},
    {"FWCheckBox", Kind::kCheck, nullptr},
    {"SWCopyChkBox", Kind::kCheck, nullptr},
    {"enFolderCPChk", Kind::kCheck, nullptr},
    {"bAdvCompareChk", Kind::kCheck, nullptr},
    {"Writetwoflashchk", Kind::kCheck, nullptr},
    {"EEPROMVerifyBox", Kind::kCheck, nullptr},
    {"enU3CheckBox", Kind::kCheck, nullptr},
    {"enU31Gen2CheckBox", Kind::kCheck, nullptr},
    {"StrA2DiskStrChk", Kind::kCheck, "Map to HDD String"},
    {"StrA2SNChk", Kind::kCheck, "Map to S/N"},
    {"StrBFromDiskSNChk", Kind::kCheck, "From HDD SN"},
    {"StrAAutoInc", Kind::kCheck, nullptr},
    {"Str3AutoInc", Kind::kCheck, nullptr},
    {"ManuProdSosctlchk", Kind::kCheck, nullptr},
    {"InquirySosctlchk", Kind::kCheck, nullptr},
    {"EnableUSBFirst", Kind::kCheck, nullptr},
    {"vfDiskNameChk", Kind::kCheck, nullptr},
    {"vfVolLabelChk", Kind::kCheck, nullptr},
    {"vfHDDFWRevChk", Kind::kCheck, nullptr},
    {"cbEraseFlash", Kind::kCheck, nullptr},
    {"cbStopOnFailure", Kind::kCheck, "StopOnFail"},
    {"VolumeLabeledEdit", Kind::kEdit, nullptr},
    {"FwFileNameEdit", Kind::kEdit, nullptr},
    {"SwImgPathEdit", Kind::kEdit, nullptr},
    {"DstISOEdit", Kind::kEdit, nullptr},
    {"StringAEdit", Kind::kEdit, nullptr},
    {"StringBEdit", Kind::kEdit, nullptr},
    {"StringCEdit", Kind::kEdit, nullptr},
    {"String3Edit", Kind::kEdit, nullptr},
    {"VendorStrEdit", Kind::kEdit, nullptr},
    {"ProdStrEdit", Kind::kEdit, nullptr},
    {"VendorIDEdit", Kind::kEdit, nullptr},
    {"ProductIDEdit", Kind::kEdit, nullptr},
    {"RevisionEdit", Kind::kEdit, nullptr},
    {"OddSizeEdit", Kind::kEdit, nullptr},
    {"TimerEdit", Kind::kEdit, nullptr},
    {"maxSNEdit", Kind::kEdit, nullptr},
    {"CapacityUserDefEdit", Kind::kEdit, nullptr},
    {"FreeSpaceEdit", Kind::kEdit, nullptr},
    {"YieldEdit", Kind::kEdit, nullptr},
    {"StatusEdit", Kind::kEdit, nullptr},
    {"lbTestLoopCnt", Kind::kEdit, nullptr},
    {"vfVIDEdit", Kind::kEdit, nullptr},
    {"vfPIDEdit", Kind::kEdit, nullptr},
    {"vfStringAEdit", Kind::kEdit, nullptr},
    {"vfStringBEdit", Kind::kEdit, nullptr},
    {"vfDiskNameEdit", Kind::kEdit, nullptr},
    {"vfVolumnLabelEdit", Kind::kEdit, nullptr},
    {"vfHDDFWRevEdit", Kind::kEdit, nullptr},
    {"CapChkCmbx", Kind::kCombo, nullptr},
    {"FmtTypeComboBox", Kind::kCombo, nullptr},
    {"FmtSecPerClusCbox", Kind::kCombo, nullptr},
    {"Q646FlashComboBox", Kind::kCombo, nullptr},
    {"EEPROMType", Kind::kCombo, nullptr},
    {"GroupBox1", Kind::kGroup, "Execution Setting"},
    {"GroupBox2", Kind::kGroup, "EEPROM Setting"},
    {"GroupBox3", Kind::kGroup, "F/W Update"},
    {"GroupBox4", Kind::kGroup, "QV41646 Flash Type"},
    {"GroupBox5", Kind::kGroup, nullptr},
    {"EEVerifyGroup", Kind::kGroup, "EEPROM Verify Setting"},
    {"Panel1", Kind::kFrame, nullptr},
    {"Panel2", Kind::kFrame, nullptr},
    {"Panel3", Kind::kFrame, nullptr},
    {"Panel4", Kind::kFrame, nullptr},
    {"Panel5", Kind::kFrame, nullptr},
    {"DebugPanel", Kind::kFrame, nullptr},
    {"WaitPanel", Kind::kFrame, nullptr},
    {"ProdModalPanel", Kind::kLabel, nullptr},
    {"USB3Panel", Kind::kLabel, nullptr},
    {"StatusLabel", Kind::kLabel, nullptr},
    {"CCLabel", Kind::kLabel, nullptr},
    {"lb_patent", Kind::kLabel, nullptr},
    {"StrALabel", Kind::kLabel, nullptr},
    {"Image1", Kind::kLabel, nullptr},
    {"PaintBox1", Kind::kWidget, nullptr},
    {"TreeView1", Kind::kTree, nullptr},
    {"ListView1", Kind::kTree, nullptr},
    {"StatusBar1", Kind::kStatusBar, nullptr},
    {"ProgressBar1", Kind::kProgress, nullptr},
};

QString CaptionOf(const QObject* o) {
  if (auto* b = qobject_cast<const QAbstractButton*>(o)) return b->text();
  if (auto* g = qobject_cast<const QGroupBox*>(o)) return g->title();
  if (auto* l = qobject_cast<const QLabel*>(o)) return l->text();
  return {};
}

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

TEST_F(WindowTest, MainWindowHoldsEveryNamedControl) {
  Start();
  for (const Named& n : kMainControls) {
    const QObject* o = form_->findChild<QObject*>(n.name);
    ASSERT_NE(o, nullptr) << n.name;
    EXPECT_TRUE(IsKind(o, n.kind)) << n.name << " is a " << o->metaObject()->className();
    if (n.caption) {
      EXPECT_EQ(CaptionOf(o), n.caption) << n.name;
    }
  }
  EXPECT_NE(form_->findChild<ClockTimer*>("Timer_EPP"), nullptr);

  const QStringList columns = {"Port", "Con.", "VID / PID / SN", "Capacity", "FWVer", "Verify", "U3.1",
                               "F/W", "EEPROM", "Partition", "Format", "R/W Test", "S/W", "F/C"};
  QStringList headers;
  const QTreeWidgetItem* header = Find<QTreeWidget>("ListView1")->headerItem();
  for (int c = 0; c < header->columnCount(); ++c) headers << header->text(c);
  EXPECT_EQ(headers, columns);
  EXPECT_EQ(Items(Combo("CapChkCmbx")),
            QStringList({"Don't Care", "User Def.", "80 GB", "120 GB", "160 GB", "250 GB", "320 GB", "400 GB",
                         "500 GB", "640 GB", "750 GB", "1T", "1T 5", "2T"}));
  EXPECT_EQ(Items(Combo("FmtSecPerClusCbox")), QStringList({"Default", "512", "4096", "32768"}));
  EXPECT_EQ(Items(Combo("Q646FlashComboBox")),
            QStringList({"ATMELAT 49BV512", "PMC OM39LV512", "SST SST39LF512 "}));
  // On the bench's Windows 10, "exFAT" follows the layout's two.
  EXPECT_EQ(Items(Combo("FmtTypeComboBox")), QStringList({"NTFS", "FAT32", "exFAT"}));
}

// Every control a settings load names exists, of a kind its effect fits.
TEST_F(WindowTest, EveryControlALoadNamesFitsItsEffect) {
  Start();
  const std::string both[] = {
      Ini("ProductModel=X1\r\nCheckMaxSn=1\r\nEnBarcodeMode=1\r\nEnEPPTypeC=1",
          "[QVEXECUTE]\r\nFmtSecPerClus=512\r\n[QVEEPROM]\r\nMapToHDName=1\r\n"),
      Ini("ProductModel=QV\r\nMPAutorun=1\r\nEnEPPTypeC=0", "[QVEXECUTE]\r\nFmtSecPerClus=-1\r\n"),
  };
  for (const std::string& text : both) {
    WriteIni(text);
    SettingsBlock block = ZeroedSettingsBlock();
    StationOptions options;
    const LoadResult result = LoadSettings(kSettingsFileName, block, options);
    ASSERT_EQ(result.settingsRead, 1);
    for (const ControlEffect& effect : result.effects) {
      const std::string name(effect.control);
      const QObject* o = form_->findChild<QObject*>(QString::fromStdString(name));
      ASSERT_NE(o, nullptr) << name;
      switch (effect.effect) {
        case Effect::kChecked: EXPECT_TRUE(qobject_cast<const QCheckBox*>(o)) << name; break;
        case Effect::kText:
        case Effect::kMaxLength: EXPECT_TRUE(qobject_cast<const QLineEdit*>(o)) << name; break;
        case Effect::kCaption:
          EXPECT_TRUE(qobject_cast<const QPushButton*>(o) || qobject_cast<const QLabel*>(o)) << name;
          break;
        case Effect::kItemIndex: EXPECT_TRUE(qobject_cast<const QComboBox*>(o)) << name; break;
        case Effect::kEnabled:
          EXPECT_TRUE(qobject_cast<const QWidget*>(o) || qobject_cast<const ClockTimer*>(o)) << name;
          break;
        case Effect::kVisible: EXPECT_TRUE(qobject_cast<const QWidget*>(o)) << name; break;
        case Effect::kClickHandler: EXPECT_TRUE(qobject_cast<const QCheckBox*>(o)) << name; break;
        case Effect::kChangeHandler: EXPECT_TRUE(qobject_cast<const QComboBox*>(o)) << name; break;
      }
    }
  }
}

TEST(LayoutTest, DetailAndResultWindows) {
  TDetailForm detail;
  EXPECT_EQ(detail.windowTitle(), "Device Information");
  const std::pair<const char*, const char*> fields[] = {
      {"ChipIDEdit", "ChipID "},
      {"ModNumEdit", "Disk Name"},
      {"StringAEdit", "Manufacture String "},
      {"String3Edit", "Serial Number String "},
      {"StringBEdit", "USB Product String "},
      {"VendorIDEdit", "Vendor ID"},
      {"ProductIDEdit", "Product ID"},
      {"DiskLetterEdit", "Disk Letter "},
      {"HDCapEdit", "HDD Capacity "},
      {"FwVerEdit", "Firmware Ver. "},
      {"SFlashTypeEdit", "Flash Type"},
      {"HDDFWRevEdit", "HDD FW Rev."},
      {"DeviceTypeEdit", "Device Type"},
  };
  for (const auto& [name, caption] : fields) {
    const auto* edit = detail.findChild<QLineEdit*>(name);
    ASSERT_NE(edit, nullptr) << name;
    EXPECT_TRUE(edit->isReadOnly()) << name;
    // The caption beside it.
    bool captioned = false;
    for (const QLabel* label : detail.findChildren<QLabel*>())
      captioned = captioned || (label->text() == caption && label->y() / 30 == edit->y() / 30);
    EXPECT_TRUE(captioned) << name;
  }

  TPassForm result(nullptr);
  EXPECT_EQ(result.windowTitle(), "Result");
  EXPECT_EQ(result.size(), QSize(308, 146));
  EXPECT_EQ(result.findChild<QLabel*>("passLabel")->text(), "PASS");
  EXPECT_EQ(result.findChild<QLabel*>("failLabel")->text(), "FAIL");
  // Read right to left, the labels centred as drawn, blended at full opacity.
  EXPECT_EQ(result.layoutDirection(), Qt::RightToLeft);
  for (const char* name : {"passLabel", "failLabel"}) {
    const QLabel* label = result.findChild<QLabel*>(name);
    EXPECT_EQ(label->layoutDirection(), Qt::RightToLeft) << name;
    EXPECT_EQ(QStyle::visualAlignment(label->layoutDirection(), label->alignment()), Qt::AlignCenter) << name;
  }
  EXPECT_EQ(result.windowOpacity(), 1.0);
}

}  // namespace
}  // namespace station
