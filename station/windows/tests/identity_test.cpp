// The configuration block as the operator edits it: every EEPROM layout's
// bytes after typing the identity, with and without the mapping boxes,
// checked against the layouts as the station's text gives them (written out
// here on their own, not taken from the code's tables).
#include <QClipboard>
#include <QGuiApplication>

#include <array>
#include <cstring>
#include <initializer_list>
#include <string>

#include "station/windows/tests/window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::Products;
using testing::SelectEepromType;
using testing::WindowTest;

using Bytes = std::array<uint8_t, 128>;

struct Expected {
  Bytes b{};
  Expected& Put(int at, std::initializer_list<int> bytes) {
    for (int v : bytes) b[static_cast<size_t>(at++)] = static_cast<uint8_t>(v);
    return *this;
  }
  // A string descriptor: length 2n + 2, type 3, the text wide or narrow.
  Expected& Descriptor(int at, const std::string& text, bool wide) {
    b[static_cast<size_t>(at)] = static_cast<uint8_t>(text.empty() ? 4 : 2 * text.size() + 2);
    b[static_cast<size_t>(at + 1)] = 3;
    for (size_t i = 0; i < text.size(); ++i) b[static_cast<size_t>(at + 2) + i * (wide ? 2 : 1)] = static_cast<uint8_t>(text[i]);
    return *this;
  }
  Expected& Signature(char a, char c) { return Put(126, {a, c}); }
  Expected& Clear(int at, int count) {
    for (int i = 0; i < count; ++i) b[static_cast<size_t>(at + i)] = 0;
    return *this;
  }
};

std::string Hex(const Bytes& b) {
  std::string out;
  char cell[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(cell, sizeof cell, "%02X%c", b[i], i % 16 == 15 ? '\n' : ' ');
    out += cell;
  }
  return out;
}

// VID 1D6B, PID 0857, the texts the tests type.
constexpr char kVid[] = "1D6B";
constexpr char kPid[] = "0857";
constexpr char kStringA[] = "Kestrova";
constexpr char kStringB[] = "Bridge";
constexpr char kSerial[] = "00AB12";

Expected Type1() {
  Expected e;
  e.Put(0, {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0x6B, 0x1D, 0x57, 0x08});
  e.Put(14, {0x0A, 0x0B, 0x05, 0x01});
  e.Descriptor(20, kStringA, true).Descriptor(64, kStringB, true).Signature('Q', 'V');
  return e;  // no serial descriptor at all
}

Expected Type2() {
  Expected e;
  e.Put(0, {0x6B, 0x1D, 0x57, 0x08});
  e.Put(6, {0x0A, 0x0B, 0x03, 0x01, 0x00, 0x00});
  e.Descriptor(12, kStringA, true).Descriptor(52, kStringB, true).Descriptor(96, kSerial, true);
  e.Put(124, {0x08, 0xB6}).Signature('Q', 'V');
  return e;
}

Expected Type3() {
  Expected e;
  e.Put(0, {0x6B, 0x1D, 0x57, 0x08});
  e.Put(6, {0x0A, 0x0B, 0x03, 0x01, 0x00, 0x00});
  e.Descriptor(12, kStringA, false).Descriptor(48, kStringB, false).Descriptor(84, kSerial, false);
  e.Put(124, {0x08, 0xC0}).Signature('Q', 'V');
  return e;
}

Expected Qvs646Normal() {
  Expected e;
  e.Put(0, {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0x6B, 0x1D, 0x57, 0x08});
  e.Put(14, {0x0A, 0x0B, 0x0C, 0x01});
  e.Descriptor(24, kStringA, false).Descriptor(56, kStringB, false).Descriptor(88, kSerial, false);
  return e.Signature('Q', 'R');
}

enum class Mapping { kNone, kHddString, kSerialFromStringA, kProductFromDiskOff };

struct GoldenCase {
  const char* what;
  int chip;
  int item;
  Mapping mapping;
  Expected expected;
};

std::vector<GoldenCase> GoldenCases() {
  Expected hdd = Type3();
  // "Map to HDD String": string A is the INQUIRY vendor and product, 24
  // characters, the vendor given, the product typed.
  hdd.Put(6, {0x01}).Put(10, {0x0A});
  hdd.Descriptor(12, std::string("Kestrova") + "DISK" + std::string(12, '\0'), false);
  Expected sn = Type1();
  sn.Put(14, {0x01}).Put(16, {0x0A});
  Expected productOff = Type3();
  productOff.Put(7, {0x02}).Clear(50, 30).Descriptor(48, "", false);
  return {
      {"Type 1", 13, 0, Mapping::kNone, Type1()},
      {"Type 2", 13, 1, Mapping::kNone, Type2()},
      {"Type 3", 13, 2, Mapping::kNone, Type3()},
      {"QVS646 Normal", 29, 0, Mapping::kNone, Qvs646Normal()},
      {"QVS646 Type 3", 29, 1, Mapping::kNone, Type3()},
      {"Type 3, Map to HDD String", 13, 2, Mapping::kHddString, hdd},
      {"Type 1, Map to S/N", 13, 0, Mapping::kSerialFromStringA, sn},
      {"Type 3, From HDD SN off, no product text", 13, 2, Mapping::kProductFromDiskOff, productOff},
  };
}

constexpr char kIdentityIni[] =
    "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nStrBFromHDSN=1\r\n";

class IdentityTest : public WindowTest {
 public:
  Bytes Block() {
    Bytes b;
    std::memcpy(b.data(), form_->Settings().OptionBlock, b.size());
    return b;
  }
  void TypeIdentity() {
    Type(Edit("VendorIDEdit"), kVid);
    Type(Edit("ProductIDEdit"), kPid);
    Type(Edit("StringAEdit"), kStringA);
    Type(Edit("StringBEdit"), kStringB);
    Type(Edit("String3Edit"), kSerial);
  }
  void ChooseType(int item) {
    std::memset(form_->Settings().OptionBlock, 0, sizeof form_->Settings().OptionBlock);
    SelectEepromType(*form_, Combo("EEPROMType"), item);
  }
};

TEST_F(IdentityTest, GoldenBytesOfEveryLayout) {
  for (const GoldenCase& c : GoldenCases()) {
    SCOPED_TRACE(c.what);
    form_.reset();
    WriteIni(Ini("", kIdentityIni));
    Bench(Products(c.chip, 1));
    Start();
    Box("StrBFromDiskSNChk")->setChecked(false);
    ChooseType(c.item);
    TypeIdentity();
    switch (c.mapping) {
      case Mapping::kNone: break;
      case Mapping::kHddString:
        QTest::mouseClick(Box("StrA2DiskStrChk"), Qt::LeftButton);
        Type(Edit("ProdStrEdit"), "DISK");
        break;
      case Mapping::kSerialFromStringA: QTest::mouseClick(Box("StrA2SNChk"), Qt::LeftButton); break;
      case Mapping::kProductFromDiskOff:
        Edit("StringBEdit")->clear();
        Box("StrBFromDiskSNChk")->setChecked(true);
        Box("StrBFromDiskSNChk")->setChecked(false);
        break;
    }
    EXPECT_EQ(Hex(Block()), Hex(c.expected.b));
    EXPECT_EQ(form_->Settings().TableType, c.item + 1);
  }
}

// Back to Type 1 after Type 3 wrote its serial: Type 1 has no serial
// descriptor, and string B holds nothing of the serial.
TEST_F(IdentityTest, TypeRoundTripLeavesNoStaleSerial) {
  WriteIni(Ini("", kIdentityIni));
  Bench(Products(13, 1));
  Start();
  ChooseType(0);
  TypeIdentity();
  SelectEepromType(*form_, Combo("EEPROMType"), 2);
  SelectEepromType(*form_, Combo("EEPROMType"), 0);
  Bytes expected = Type1().b;
  Bytes got = Block();
  // The release bytes (12-13) are the edits' to fill; Type 3 left its own there.
  got[12] = got[13] = 0;
  EXPECT_EQ(Hex(got), Hex(expected));
}

TEST_F(IdentityTest, EdgeCasesOfTheDescriptors) {
  WriteIni(Ini("", kIdentityIni));
  Bench(Products(13, 1));
  Start();
  ChooseType(2);
  // 31 characters in Type 3: cut to 30, length byte 62, single bytes.
  Type(Edit("String3Edit"), QString(31, 'A'));
  EXPECT_EQ(Edit("String3Edit")->text().size(), 30);
  EXPECT_EQ(Block()[84], 62);
  EXPECT_EQ(Block()[86 + 29], 'A');
  // An empty edit: length byte 4.
  Edit("StringBEdit")->clear();
  EXPECT_EQ(Block()[48], 4);
  // The null marker marks the string unset.
  Edit("StringBEdit")->setText("<<<< NULL >>>>");
  EXPECT_EQ(Block()[48], 4);
  Type(Edit("VendorIDEdit"), "6A3E");
  EXPECT_EQ(Block()[0], 0x3E);
  EXPECT_EQ(Block()[1], 0x6A);
}

TEST_F(IdentityTest, IdsThatAreNotHexLeaveTheBlock) {
  WriteIni(Ini("", kIdentityIni));
  Bench(Products(13, 1));
  Start();
  ChooseType(2);
  Type(Edit("VendorIDEdit"), "6a3e");  // typed lower case, taken upper case
  EXPECT_EQ(Edit("VendorIDEdit")->text(), "6A3E");
  // A paste goes through the key filter as typing does.
  QGuiApplication::clipboard()->setText("12g4");
  Edit("ProductIDEdit")->selectAll();
  QTest::keyClick(Edit("ProductIDEdit"), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Edit("ProductIDEdit")->text(), "124");
  EXPECT_EQ(Block()[2], 0x24);
  EXPECT_EQ(Block()[3], 0x01);
  // A text that did not come through the keys (a settings file's): a
  // message naming the field, the block as it was.
  const Bytes before = Block();
  boxes_.clear();
  Edit("VendorIDEdit")->setText("12G4");
  EXPECT_EQ(Messages(), std::vector<std::string>{"Vendor ID: '12G4' is not a hexadecimal number."});
  EXPECT_EQ(Hex(Block()), Hex(before));
}

TEST_F(IdentityTest, SerialFromStringAKeepsItHex) {
  WriteIni(Ini("", kIdentityIni));
  Bench(Products(13, 1));
  Start();
  ChooseType(0);
  QTest::mouseClick(Box("StrA2SNChk"), Qt::LeftButton);
  EXPECT_TRUE(Shown("StrAAutoInc"));
  Type(Edit("StringAEdit"), "12g");
  EXPECT_EQ(Edit("StringAEdit")->text(), "12");
  const Bytes before = Block();
  boxes_.clear();
  Edit("StringAEdit")->setText("12g");
  EXPECT_EQ(Messages(), std::vector<std::string>{"Error Serial Number content (0-9 a-f A-F)!"});
  EXPECT_EQ(Hex(Block()), Hex(before));
  // Off again: string A takes any text.
  QTest::mouseClick(Box("StrA2SNChk"), Qt::LeftButton);
  Type(Edit("StringAEdit"), "Kg");
  EXPECT_EQ(Edit("StringAEdit")->text(), "Kg");
}

// A paste into a serial entry (the serial edit, or string A mapped to the
// serial) goes in whole or not at all: a text that is no serial gets the
// serial message and leaves the entry and the block as they were.
TEST_F(IdentityTest, SerialPastesAreTakenWholeOrRefused) {
  struct Case {
    const char* edit;
    const char* pasted;
    const char* after;  // the entry's text
    bool refused;
  };
  const Case cases[] = {
      {"StringAEdit", "12g", "12", true},
      {"StringAEdit", "ab\n12", "AB12", false},
      {"String3Edit", "00 AB", "12", true},
      {"String3Edit", "00ab12", "00AB12", false},
  };
  WriteIni(Ini("", kIdentityIni));
  Bench(Products(13, 1));
  Start();
  ChooseType(0);
  QTest::mouseClick(Box("StrA2SNChk"), Qt::LeftButton);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.edit) + " " + c.pasted);
    if (std::string(c.edit) == "String3Edit") ChooseType(2);
    QLineEdit* edit = Edit(c.edit);
    Type(edit, "12");
    const Bytes before = Block();
    boxes_.clear();
    QGuiApplication::clipboard()->setText(c.pasted);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), c.after);
    EXPECT_EQ(Messages(), c.refused ? std::vector<std::string>{"Error Serial Number content (0-9 a-f A-F)!"}
                                    : std::vector<std::string>{});
    if (c.refused) EXPECT_EQ(Hex(Block()), Hex(before));
    else EXPECT_NE(Hex(Block()), Hex(before));
  }
}

// Mapping string A to the serial turns its a-f capital and no other letter:
// a text that is no serial stays visibly so, with the message.
TEST_F(IdentityTest, MappingStringAToTheSerialCapitalisesItsHexLetters) {
  struct Case {
    const char* text;
    const char* after;
    bool message;
  };
  for (const Case& c : {Case{"00ab12", "00AB12", false}, Case{"abcxyz", "ABCxyz", true}}) {
    SCOPED_TRACE(c.text);
    form_.reset();
    WriteIni(Ini("", kIdentityIni));
    Bench(Products(13, 1));
    Start();
    ChooseType(0);
    Type(Edit("StringAEdit"), c.text);
    boxes_.clear();
    QTest::mouseClick(Box("StrA2SNChk"), Qt::LeftButton);
    EXPECT_EQ(Edit("StringAEdit")->text(), c.after);
    EXPECT_EQ(Messages().size(), c.message ? 1u : 0u) << ::testing::PrintToString(Messages());
  }
}

// The INQUIRY vendor and product are string A: in a UTF-16 layout they stay
// inside string A's slot and string B is untouched.
TEST_F(IdentityTest, InquiryTextStaysInStringASlot) {
  WriteIni(Ini("", kIdentityIni));
  Bench(Products(13, 1));
  Start();
  ChooseType(0);
  TypeIdentity();
  const Bytes before = Block();
  Edit("VendorStrEdit")->setText("VENDOR");
  Edit("ProdStrEdit")->setText("PRODUCT NAME 123");
  const Bytes after = Block();
  EXPECT_EQ(std::memcmp(after.data() + 64, before.data() + 64, 64), 0) << Hex(after);
  EXPECT_EQ(after[20], 2 * 21 + 2);  // string A's 21 characters, no more
  EXPECT_EQ(after[22], 'V');
  EXPECT_EQ(after[22 + 2 * 8], 'P');
}

// With QVS646-family chips too the INQUIRY edits write string A's slot, and
// nothing at the places of the device descriptor.
TEST_F(IdentityTest, Qvs646InquiryTextLeavesTheDeviceDescriptor) {
  WriteIni(Ini("", kIdentityIni));
  Bench(Products(29, 1));
  Start();
  ChooseType(0);
  TypeIdentity();
  const Bytes before = Block();
  Edit("VendorStrEdit")->setText("VENDOR");
  Edit("ProdStrEdit")->setText("PRODUCT");
  const Bytes after = Block();
  EXPECT_EQ(std::memcmp(after.data(), before.data(), 24), 0) << Hex(after);
  EXPECT_EQ(std::memcmp(after.data() + 48, before.data() + 48, 80), 0) << Hex(after);
  EXPECT_EQ(after[24], 2 * 22 + 2);
  EXPECT_EQ(after[26], 'V');
}

// A short INQUIRY vendor is padded with blanks, so string A keeps the
// product behind it, in the window and in the collected settings.
TEST_F(IdentityTest, ShortInquiryVendorKeepsTheProduct) {
  WriteIni(Ini("", std::string(kIdentityIni) + "StringA=\r\n"));
  Bench(Products(13, 1));
  TMainForm& form = Start();
  ChooseType(2);
  Edit("StringAEdit")->clear();
  QTest::mouseClick(Box("StrA2DiskStrChk"), Qt::LeftButton);
  Type(Edit("VendorStrEdit"), "QV");
  Type(Edit("ProdStrEdit"), "DISK");
  EXPECT_EQ(Edit("StringAEdit")->text(), "QV      DISK");
  ASSERT_EQ(form.CollectSettingsFromForm(), CollectError::kNone);
  EXPECT_EQ(FieldText(form.Settings().StringA), "QV      DISK");
  EXPECT_EQ(FieldText(form.Settings().InquiryVendor), "QV");
}

// Each rescan runs the type handler with "Map to HDD String" unchecked: the
// typed manufacturer text stays; unchecking the box by hand brings the
// INQUIRY text back into it.
TEST_F(IdentityTest, UncheckedHddMappingKeepsTheTypedManufacturer) {
  WriteIni(Ini("", kIdentityIni));
  Bench(Products(13, 1));
  TMainForm& form = Start();
  Edit("VendorStrEdit")->setText("VENDOR");
  Edit("ProdStrEdit")->setText("PRODUCT");
  Type(Edit("StringAEdit"), "Typed Maker");
  form.RefreshBtnClick();
  form.RefreshBtnClick();
  EXPECT_EQ(Edit("StringAEdit")->text(), "Typed Maker");
  QTest::mouseClick(Box("StrA2DiskStrChk"), Qt::LeftButton);  // on: split into the INQUIRY edits
  EXPECT_EQ(Edit("VendorStrEdit")->text(), "Typed Ma");
  Type(Edit("ProdStrEdit"), "X");
  QTest::mouseClick(Box("StrA2DiskStrChk"), Qt::LeftButton);  // off: joined again
  EXPECT_EQ(Edit("StringAEdit")->text(), "Typed MaX");
}

}  // namespace
}  // namespace station
