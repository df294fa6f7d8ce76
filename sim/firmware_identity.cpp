#include "sim/firmware_identity.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace sim {

namespace {

// QVS87x bank.
constexpr size_t kBankOptionByte = 0x600;
constexpr size_t kBankInquiryVendor = 0x610;
constexpr size_t kBankInquiryProduct = 0x618;
constexpr size_t kBankManufacturer = 0x628;
constexpr size_t kBankProduct = 0x648;
constexpr size_t kBankStringField = 32;
constexpr size_t kInquiryVendorSize = 8;
constexpr size_t kInquiryProductSize = 16;
constexpr uint8_t kInquiryFromBank = 0x01;
constexpr uint8_t kStringsFromBank = 0x02;

// Identity record.
constexpr size_t kRecordSize = 72;
constexpr uint8_t kRecordMark = 'B';
constexpr size_t kRecordSerial = 52;
constexpr size_t kRecordSerialSize = 20;

// Configuration area of the 1 KB families.
constexpr size_t kAreaVid = 0;
constexpr size_t kAreaPid = 2;
constexpr size_t kManufacturerIndex = 6;
constexpr size_t kProductIndex = 7;
constexpr size_t kSerialIndex = 8;
constexpr size_t kAreaDescriptorField = 32;
struct AreaSlot {
  uint8_t index;
  size_t offset;
};
constexpr AreaSlot kAreaSlots[] = {{0x0A, 12}, {0x0B, 48}, {0x03, 84}};
constexpr std::string_view kAreaSignature = "QV";
constexpr size_t kAreaDiskString = 200;  // 24 bytes, zero when not set

constexpr uint8_t kStringDescriptorType = 3;

std::string FieldText(const uint8_t* p, size_t n) {
  return std::string(platform::TrimBlanks(std::string_view(reinterpret_cast<const char*>(p), n)));
}

// A string descriptor of 8-bit characters (length byte 2n + 2, type 3) in a
// field of `field` bytes; false when it is none or holds no text.
bool EightBitDescriptor(const uint8_t* slot, size_t field, std::string* out) {
  const size_t length = slot[0];
  if (slot[1] != kStringDescriptorType || length < 4 || length % 2 != 0) return false;
  const size_t n = std::min((length - 2) / 2, field - 2);
  std::string text(reinterpret_cast<const char*>(slot + 2), n);
  text.resize(std::min(text.size(), text.find('\0')));
  if (text.empty()) return false;
  *out = std::move(text);
  return true;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

DeviceIdentity BankIdentity(std::span<const uint8_t> bank, const DeviceIdentity& fallback) {
  DeviceIdentity id = fallback;
  if (bank.size() < kBankProduct + kBankStringField) return id;
  const uint8_t options = bank[kBankOptionByte];
  if (options == 0xFF) return id;  // erased: no identity in this bank
  if (options & kInquiryFromBank) {
    id.inquiryVendor = FieldText(&bank[kBankInquiryVendor], kInquiryVendorSize);
    id.inquiryProduct = FieldText(&bank[kBankInquiryProduct], kInquiryProductSize);
  }
  if (options & kStringsFromBank) {
    std::string text;
    if (EightBitDescriptor(&bank[kBankManufacturer], kBankStringField, &text)) id.manufacturer = text;
    if (EightBitDescriptor(&bank[kBankProduct], kBankStringField, &text)) id.product = text;
  }
  return id;
}

DeviceIdentity RecordIdentity(const std::vector<uint8_t>& record, uint16_t vid, uint16_t pid,
                              const DeviceIdentity& fallback) {
  DeviceIdentity id = fallback;
  if (record.size() != kRecordSize || record[0] != kRecordMark) return id;
  id.vid = vid;
  id.pid = pid;
  const std::string serial = FieldText(&record[kRecordSerial], kRecordSerialSize);
  if (!serial.empty()) id.serial = serial;
  return id;
}

namespace {

constexpr size_t kBlockSize = 128;

struct BlockLayout {
  size_t vid, pid;
  size_t indexAt[3];     // manufacturer, product, serial
  AreaSlot slots[3];     // offset 0: none
  size_t field;          // bytes a descriptor may take
  bool wide;             // UTF-16LE characters
};
constexpr BlockLayout kType1 = {8, 10, {14, 15, 16}, {{0x0A, 20}, {0x0B, 64}, {0x03, 0}}, 44, true};
constexpr BlockLayout kType2 = {0, 2, {6, 7, 8}, {{0x0A, 12}, {0x0B, 52}, {0x03, 96}}, 40, true};
constexpr BlockLayout kType3 = {0, 2, {6, 7, 8}, {{0x0A, 12}, {0x0B, 48}, {0x03, 84}}, 32, false};

// A UTF-16LE string descriptor (length byte 2n + 2, type 3) within `field`
// bytes, each character's high byte dropped; false when it holds no text.
bool WideDescriptor(const uint8_t* slot, size_t field, std::string* out) {
  const size_t length = slot[0];
  if (slot[1] != kStringDescriptorType || length < 4 || length % 2 != 0) return false;
  const size_t end = std::min(length, field);
  std::string text;
  for (size_t i = 2; i + 1 < end && slot[i] != 0; i += 2) text.push_back(static_cast<char>(slot[i]));
  if (text.empty()) return false;
  *out = std::move(text);
  return true;
}

}  // namespace

DeviceIdentity ConfigBlockIdentity(std::span<const uint8_t> block, const DeviceIdentity& fallback) {
  DeviceIdentity id = fallback;
  if (block.size() < kBlockSize ||
      std::string_view(reinterpret_cast<const char*>(&block[kBlockSize - 2]), 2) != kAreaSignature) {
    return id;
  }
  const BlockLayout* layout = nullptr;
  if (block[0] == 0x12 && block[1] == 0x01) layout = &kType1;
  if (block[125] == 0xB6) layout = &kType2;
  if (block[125] == 0xC0 || block[125] == 0xB0) layout = &kType3;  // 0xB0: the QVS857's own
  if (layout == nullptr) return id;
  if (const uint16_t vid = Le16(&block[layout->vid]); vid != 0 && vid != 0xFFFF) id.vid = vid;
  if (const uint16_t pid = Le16(&block[layout->pid]); pid != 0 && pid != 0xFFFF) id.pid = pid;
  std::string* fields[] = {&id.manufacturer, &id.product, &id.serial};
  for (size_t f = 0; f < 3; ++f) {
    for (const AreaSlot& slot : layout->slots) {
      if (slot.offset == 0 || slot.index != block[layout->indexAt[f]]) continue;
      const size_t field = std::min(layout->field, kBlockSize - slot.offset);
      std::string text;
      if (layout->wide ? WideDescriptor(&block[slot.offset], field, &text)
                       : EightBitDescriptor(&block[slot.offset], field, &text)) {
        *fields[f] = text;
      }
    }
  }
  return id;
}

DeviceIdentity ConfigAreaIdentity(std::span<const uint8_t> area, const DeviceIdentity& fallback) {
  DeviceIdentity id = fallback;
  if (area.size() < kConfigAreaSize ||
      std::string_view(reinterpret_cast<const char*>(&area[kConfigAreaSize - 2]), 2) !=
          kAreaSignature) {
    return id;
  }
  // An id of 0 or an erased one was never set.
  if (const uint16_t vid = Le16(&area[kAreaVid]); vid != 0 && vid != 0xFFFF) id.vid = vid;
  if (const uint16_t pid = Le16(&area[kAreaPid]); pid != 0 && pid != 0xFFFF) id.pid = pid;
  const auto stringOf = [&](size_t indexAt, std::string* field) {
    for (const AreaSlot& slot : kAreaSlots) {
      std::string text;
      if (slot.index == area[indexAt] &&
          EightBitDescriptor(&area[slot.offset], kAreaDescriptorField, &text)) {
        *field = text;
      }
    }
  };
  stringOf(kManufacturerIndex, &id.manufacturer);
  stringOf(kProductIndex, &id.product);
  stringOf(kSerialIndex, &id.serial);
  // The disk string, when one was set, stands in for the disk's INQUIRY
  // texts: vendor in its first 8 bytes, product in the next 16.
  if (area[kAreaDiskString] != 0) {
    id.inquiryVendor = FieldText(&area[kAreaDiskString], kInquiryVendorSize);
    id.inquiryProduct = FieldText(&area[kAreaDiskString + kInquiryVendorSize], kInquiryProductSize);
  }
  return id;
}

void EncodeConfigArea(const DeviceIdentity& identity, std::span<uint8_t> area) {
  if (area.size() < kConfigAreaSize) return;
  std::fill_n(area.begin(), kConfigAreaSize, uint8_t{0});
  area[kAreaVid] = static_cast<uint8_t>(identity.vid);
  area[kAreaVid + 1] = static_cast<uint8_t>(identity.vid >> 8);
  area[kAreaPid] = static_cast<uint8_t>(identity.pid);
  area[kAreaPid + 1] = static_cast<uint8_t>(identity.pid >> 8);
  const std::string* texts[] = {&identity.manufacturer, &identity.product, &identity.serial};
  const size_t indexAt[] = {kManufacturerIndex, kProductIndex, kSerialIndex};
  for (size_t i = 0; i < std::size(kAreaSlots); ++i) {
    const AreaSlot& slot = kAreaSlots[i];
    area[indexAt[i]] = slot.index;
    const size_t n = std::min(texts[i]->size(), kAreaDescriptorField - 2);
    area[slot.offset] = static_cast<uint8_t>(2 * n + 2);
    area[slot.offset + 1] = kStringDescriptorType;
    std::copy_n(texts[i]->begin(), n, area.begin() + static_cast<ptrdiff_t>(slot.offset + 2));
  }
  area[kConfigAreaSize - 2] = static_cast<uint8_t>(kAreaSignature[0]);
  area[kConfigAreaSize - 1] = static_cast<uint8_t>(kAreaSignature[1]);
}

}  // namespace sim
