// Configuration block editing: the EEPROM type chooses the layout of the
// OptionBlock and loads its defaults; the identity edits and the mapping
// boxes write what the operator types straight into the block.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>

#include <cctype>

#include "platform/message_box.h"
#include "station/eeprom_layout.h"
#include "station/step_helpers.h"
#include "station/windows/control_events.h"
#include "station/windows/main_form.h"
#include "ui_mainform.h"

namespace station {
namespace {

constexpr char kSerialError[] = "Error Serial Number content (0-9 a-f A-F)!";
constexpr int kInquiryVendorChars = 8;
constexpr int kInquiryProductChars = 16;
constexpr int kInquiryChars = kInquiryVendorChars + kInquiryProductChars;
// The places the INQUIRY edits name for themselves (vendor, product).
constexpr int32_t kInquiryVendorOffset = 12;
constexpr int32_t kInquiryProductOffset = 20;
constexpr uint8_t kOptionInquiryBits = 0x0A;  // bits 1 and 3
constexpr uint8_t kStringIndexMapped = 1;
constexpr uint8_t kStringIndexManufacturer = 10;
constexpr uint8_t kStringIndexSerial = 10;
constexpr uint8_t kStringIndexSerialOff = 5;
constexpr uint8_t kStringIndexProductFromDisk = 11;
constexpr uint8_t kStringIndexProduct = 2;
constexpr int32_t kFlagByte = 124;
constexpr int32_t kMappedSerialChars = 20;

enum Tag { kTagStringA, kTagStringB, kTagSerial, kTagVendor, kTagProduct };

bool IsSerialText(std::string_view text, bool aToZ) {
  for (char c : text) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!std::isdigit(static_cast<unsigned char>(c)) && !(upper >= 'A' && upper <= (aToZ ? 'Z' : 'F')))
      return false;
  }
  return true;
}

// Only a-f are made capitals: another letter stays as typed, so a text that
// is no serial shows as such.
QString UpperHexLetters(QString text) {
  for (QChar& c : text)
    if (c >= QLatin1Char('a') && c <= QLatin1Char('f')) c = c.toUpper();
  return text;
}

// The INQUIRY string A with its product zero-filled to 16, as the descriptor
// carries it.
std::string InquiryDescriptorText(std::string_view vendor, std::string_view product) {
  std::string text = ComposeInquiryString(vendor, product);
  text.resize(kInquiryChars, '\0');
  return text;
}

std::string ProductText(std::string_view stringA) {
  return std::string(stringA.size() > kInquiryVendorChars ? stringA.substr(kInquiryVendorChars, kInquiryProductChars)
                                                          : std::string_view());
}

}  // namespace

void TMainForm::EEPROMTypeChange() {
  Ui::TMainForm& u = *ui;
  SettingsBlock& s = settings_;
  const int32_t item = u.EEPROMType->currentIndex();
  s.TableType = item + 1;
  QLineEdit* const remembered[] = {u.StringAEdit, u.StringBEdit, u.String3Edit, u.VendorIDEdit, u.ProductIDEdit};
  QString texts[std::size(remembered)];
  for (size_t i = 0; i < std::size(remembered); ++i) texts[i] = remembered[i]->text();

  const bool qvs646 = interleaveMode_ != kInterleaveNoQvs646;
  const EepromLayout* layout = FindEepromLayout(qvs646 ? LayoutFamily::kQvs646 : LayoutFamily::kStandard, item);
  if (!layout) return;  // no item chosen: the block keeps its layout
  eepromLayoutIndex_ = layout->layoutIndex;
  ApplyLayoutOffsets(s, *layout, true);
  const bool type3 = layout->layoutIndex == kLayoutIndexType3;

  if (!qvs646) {
    SetKeyHandler(u.StringAEdit, nullptr);
    if (layout->layoutIndex == kLayoutIndexType1) {
      u.Panel4->hide();
      u.StrA2SNChk->move(u.StrA2SNChk->x(), u.StrA2DiskStrChk->y());
      u.StrA2SNChk->show();
      u.EnableUSBFirst->hide();
      StrA2SNChkClick();
      u.StrA2DiskStrChk->hide();
    } else {
      u.Panel4->show();
      u.String3Edit->setEnabled(true);
      u.Str3AutoInc->show();
      u.String3Edit->show();
      u.StrAAutoInc->hide();
      if (type3) {
        u.StrA2DiskStrChk->show();
      } else {
        u.StrA2DiskStrChk->hide();
        u.StrA2SNChk->hide();
      }
    }
  } else {
    u.StrA2SNChk->hide();
    u.StrAAutoInc->hide();
    u.String3Edit->setEnabled(true);
    u.String3Edit->show();
    u.Str3AutoInc->show();
    u.Panel4->show();
    if (type3) {
      u.StrA2DiskStrChk->show();
    } else {
      u.EnableUSBFirst->hide();
      u.StrA2DiskStrChk->hide();
    }
  }
  StrA2DiskStrChkClick();
  texts[0] = u.StringAEdit->text();

  LoadLayoutDefaults(s.OptionBlock, *layout->defaults);
  const int32_t option = s.OptionOffsets[kOptionByteOffset];
  if (!qvs646 && type3 && u.StrA2DiskStrChk->isChecked()) {
    StoreByte(s.OptionBlock, s.OptionOffsets[kManufacturerIndexOffset], kStringIndexMapped);
    if (mix_.AnyQvs819Family) {
      StoreByte(s.OptionBlock, option, ByteAt(s.OptionBlock, option) | kOptionInquiryBits);
      if (ByteAt(s.OptionBlock, option) & 0x04) {
        s.OptionOffsets[kStringAMax] = kMappedSerialChars;
        s.OptionOffsets[kSerialMax] = kMappedSerialChars;
      }
    } else {
      StoreByte(s.OptionBlock, option, kOptionInquiryBits);
    }
  }
  if (layout->layoutIndex != kLayoutIndexType1) {
    uint8_t flags = ByteAt(s.OptionBlock, kFlagByte) | 0x08;
    if (u.EnableUSBFirst->isChecked()) flags |= 0x04;
    StoreByte(s.OptionBlock, kFlagByte, flags);
  }

  // Written again into the new layout by their change handlers.
  for (QLineEdit* edit : remembered) edit->clear();
  for (size_t i = 0; i < std::size(remembered); ++i) remembered[i]->setText(texts[i]);
}

void TMainForm::WriteStringA(std::string_view text, int32_t maxChars) {
  SettingsBlock& s = settings_;
  const bool singleByte = interleaveMode_ != kInterleaveNoQvs646 || eepromLayoutIndex_ == kLayoutIndexType3;
  const int32_t slot = std::min(maxChars, s.OptionOffsets[kStringAMax]);
  WriteStringDescriptor(s.OptionBlock, s.OptionOffsets[kStringAOffset], text.substr(0, static_cast<size_t>(slot)),
                        singleByte ? slot : slot * 2, singleByte);
}

void TMainForm::StringAEditChange(QLineEdit* sender) {
  Ui::TMainForm& u = *ui;
  SettingsBlock& s = settings_;
  const Tag tag = sender == u.StringAEdit   ? kTagStringA
                  : sender == u.StringBEdit ? kTagStringB
                  : sender == u.String3Edit ? kTagSerial
                  : sender == u.VendorStrEdit ? kTagVendor
                                              : kTagProduct;
  const bool inquiry = tag == kTagVendor || tag == kTagProduct;
  int32_t offset = 0;
  int32_t max = 0;
  switch (tag) {
    case kTagStringA: offset = s.OptionOffsets[kStringAOffset]; max = s.OptionOffsets[kStringAMax]; break;
    case kTagStringB: offset = s.OptionOffsets[kStringBOffset]; max = s.OptionOffsets[kStringBMax]; break;
    case kTagSerial: offset = s.OptionOffsets[kSerialOffset]; max = s.OptionOffsets[kSerialMax]; break;
    case kTagVendor: offset = kInquiryVendorOffset; max = kInquiryVendorChars; break;
    case kTagProduct: offset = kInquiryProductOffset; max = kInquiryProductChars; break;
  }
  // A layout without this descriptor (Type 1 has no serial) takes nothing.
  if (!inquiry && offset == 0) return;
  const std::string text = TextOf(sender);

  if (text == kNullText) {
    QLineEdit* other = tag == kTagVendor ? u.ProdStrEdit : u.VendorStrEdit;
    if (!inquiry) MarkStringUnset(s.OptionBlock, offset);
    else if (TextOf(other) == kNullText) MarkStringUnset(s.OptionBlock, s.OptionOffsets[kStringAOffset]);
    else sender->clear();
    return;
  }
  if (static_cast<int32_t>(text.size()) > max) {
    sender->setText(FromStationText(text).left(max));  // written by the change this makes
    sender->end(false);
    return;
  }

  if (SerialChecked(sender) && !IsSerialText(text, Options().MPSnAToZ != 0)) {
    platform::ShowMessage(kSerialError);
    return;
  }
  if (inquiry) {
    // The INQUIRY vendor and product are string A; they stay in its slot.
    const std::string vendor = TextOf(u.VendorStrEdit);
    const std::string product = TextOf(u.ProdStrEdit);
    SetText(u.StringAEdit, ComposeInquiryString(vendor, product));
    WriteStringA(InquiryDescriptorText(vendor, product), kInquiryChars);
    return;
  }
  const bool singleByte = interleaveMode_ != kInterleaveNoQvs646 || eepromLayoutIndex_ == kLayoutIndexType3;
  WriteStringDescriptor(s.OptionBlock, offset, text, singleByte ? max : max * 2, singleByte);
}

bool TMainForm::SerialChecked(const QLineEdit* edit) const {
  if (interleaveMode_ != kInterleaveNoQvs646) return false;
  return edit == ui->String3Edit ||
         (edit == ui->StringAEdit && ui->StrA2SNChk->isChecked() && OwnVisible(ui->StrA2SNChk));
}

bool TMainForm::SerialPasteAllowed(const QLineEdit* edit, std::string_view text) {
  if (!SerialChecked(edit) || IsSerialText(text, Options().MPSnAToZ != 0)) return true;
  platform::ShowMessage(kSerialError);
  return false;
}

void TMainForm::VenderIDEditChange(QLineEdit* sender) {
  SettingsBlock& s = settings_;
  const bool product = sender == ui->ProductIDEdit;
  const int32_t offset = s.OptionOffsets[kVidOffset] + (product ? 2 : 0);
  const std::string text = TextOf(sender).substr(0, 4);
  std::optional<int32_t> value = 0;
  if (!text.empty()) value = ConvertHex(text);
  if (!value) {
    const CollectError field = product ? CollectError::kProductId : CollectError::kVendorId;
    platform::MessageBox(CollectErrorMessage(field, TextOf(sender)).c_str(), "Error",
                         platform::kMbOk | platform::kMbIconError);
    return;
  }
  StoreId(s.OptionBlock, offset, static_cast<uint16_t>(*value));
}

void TMainForm::StrA2DiskStrChkClick(bool operatorUnchecked) {
  Ui::TMainForm& u = *ui;
  SettingsBlock& s = settings_;
  const int32_t option = s.OptionOffsets[kOptionByteOffset];
  const int32_t index = s.OptionOffsets[kManufacturerIndexOffset];
  if (u.StrA2DiskStrChk->isChecked() && OwnVisible(u.StrA2DiskStrChk)) {
    u.StringAEdit->hide();
    const int y = u.StringAEdit->y();
    u.VendorStrEdit->move(u.VendorStrEdit->x(), y);
    u.ProdStrEdit->move(u.ProdStrEdit->x(), y);
    u.StrALabel->move(u.StrALabel->x(), y + 4);
    u.VendorStrEdit->show();
    u.ProdStrEdit->show();
    u.StrALabel->show();
    if (option != 0) StoreByte(s.OptionBlock, option, ByteAt(s.OptionBlock, option) | kOptionInquiryBits);
    StoreByte(s.OptionBlock, index, kStringIndexMapped);
    const std::string stringA = TextOf(u.StringAEdit);
    if (IsNullText(stringA)) {
      SetText(u.StringAEdit, ComposeInquiryString(TextOf(u.VendorStrEdit), TextOf(u.ProdStrEdit)));
      StringAEditChange(u.StringAEdit);
    } else {
      SetText(u.VendorStrEdit, stringA.substr(0, kInquiryVendorChars));
      SetText(u.ProdStrEdit, ProductText(stringA));
      StringAEditChange(u.VendorStrEdit);
      StringAEditChange(u.ProdStrEdit);
    }
    return;
  }
  u.StringAEdit->show();
  u.VendorStrEdit->hide();
  u.ProdStrEdit->hide();
  u.StrALabel->hide();
  if (option != 0) StoreByte(s.OptionBlock, option, ByteAt(s.OptionBlock, option) & ~kOptionInquiryBits);
  StoreByte(s.OptionBlock, index, kStringIndexManufacturer);
  // The manufacturer text comes back from the INQUIRY edits only when the
  // mapping is switched off, not each time the type handler passes here.
  if (!operatorUnchecked) return;
  std::string vendor = TextOf(u.VendorStrEdit);
  std::string product = TextOf(u.ProdStrEdit);
  if (IsNullText(vendor) && IsNullText(product)) return;
  if (vendor == kNullText) {
    u.VendorStrEdit->clear();
    vendor.clear();
  } else if (product == kNullText) {
    u.ProdStrEdit->clear();
    product.clear();
  }
  SetText(u.StringAEdit, product.empty() ? vendor : ComposeInquiryString(vendor, product));
  StringAEditChange(u.StringAEdit);
}

void TMainForm::StrA2SNChkClick() {
  Ui::TMainForm& u = *ui;
  SettingsBlock& s = settings_;
  if (u.StrA2SNChk->isChecked()) {
    u.StrAAutoInc->show();
    SetKeyHandler(u.StringAEdit, [this](char key) { return StringAEditKeyPress(key); });
    StoreByte(s.OptionBlock, s.OptionOffsets[kManufacturerIndexOffset], kStringIndexMapped);
    StoreByte(s.OptionBlock, s.OptionOffsets[kSerialIndexOffset], kStringIndexSerial);
    const QString text = u.StringAEdit->text();
    const QString upper = UpperHexLetters(text);
    if (upper.isEmpty()) return;
    const bool changed = upper != text;
    if (changed) u.StringAEdit->setText(upper);
    // Said once: a changed serial text is checked by the edit's own handler.
    if (!(changed && SerialChecked(u.StringAEdit)) && !IsSerialText(ToStationText(upper), Options().MPSnAToZ != 0))
      platform::ShowMessage(kSerialError);
  } else {
    u.StrAAutoInc->hide();
    SetKeyHandler(u.StringAEdit, nullptr);
    StoreByte(s.OptionBlock, s.OptionOffsets[kManufacturerIndexOffset], kStringIndexManufacturer);
    StoreByte(s.OptionBlock, s.OptionOffsets[kSerialIndexOffset], kStringIndexSerialOff);
  }
}

void TMainForm::StrBFromDiskSNChkClick() {
  Ui::TMainForm& u = *ui;
  SettingsBlock& s = settings_;
  const int32_t index = s.OptionOffsets[kProductIndexOffset];
  if (OwnVisible(u.StrBFromDiskSNChk) && u.StrBFromDiskSNChk->isChecked()) {
    u.StringBEdit->setEnabled(false);
    StoreByte(s.OptionBlock, index, kStringIndexProductFromDisk);
  } else {
    u.StringBEdit->setEnabled(true);
    StoreByte(s.OptionBlock, index, IsNullText(TextOf(u.StringBEdit)) ? kStringIndexProduct : kStringIndexProductFromDisk);
  }
}

}  // namespace station
