#include "qvfw/update_settings.h"

#include <cstdio>
#include <span>
#include <string>

#include "bridge/identity_config.h"
#include "bridge/identity_record.h"
#include "bridge/image_crc.h"
#include "bridge/vendor_commands.h"
#include "platform/byte_order.h"
#include "station/eeprom_layout.h"
#include "station/settings_collection.h"

namespace qvfw {
namespace {

using station::SetFieldText;

// The option-block layouts the library writes for the chips that keep one:
// one with a serial-number descriptor; the families whose defaults mark the
// 8-bit one take it, the only one their default bytes (type bytes at 13, 49
// and 85, zeros or options from 117) leave whole.
constexpr int32_t kLibraryLayoutItem = 1;
constexpr int32_t kConfigAreaLayoutItem = 2;

// MODE SENSE power condition page: the enable byte and the timer in tenths
// of a second.
constexpr size_t kPowerPageEnabled = 11;
constexpr size_t kPowerPageTimer = 16;
constexpr uint32_t kTicksPerMinute = 600;

struct TextLimit {
  Text text;
  size_t maxChars;
};

// The fields each family writes a text into.
constexpr TextLimit kQvs87xLimits[] = {
    {Text::Serial, bridge::kIdentityTextSize},
    {Text::UsbManufacturer, bridge::kMaxBankStringLength},
    {Text::UsbProduct, bridge::kMaxBankStringLength},
    {Text::ScsiVendor, bridge::kBankText16 - bridge::kBankText8},
    {Text::ScsiProduct, bridge::kBankFirstString - bridge::kBankText16},
};
constexpr TextLimit kIdentityImageLimits[] = {
    {Text::Manufacturer, bridge::kStringMaxCharacters},
    {Text::Product, bridge::kStringMaxCharacters},
    {Text::Serial, bridge::kStringMaxCharacters},
    {Text::ScsiVendor, bridge::kInquiryVendorSize},
    {Text::ScsiProduct, bridge::kInquiryProductSize},
};

std::vector<TextLimit> LimitsOf(bridge::ChipType chipType) {
  if (IsQvs87x(chipType)) return {std::begin(kQvs87xLimits), std::end(kQvs87xLimits)};
  if (KeepsIdentityImage(chipType)) {
    return {std::begin(kIdentityImageLimits), std::end(kIdentityImageLimits)};
  }
  const auto& at = LibraryLayout(chipType).offsets;
  return {{Text::Manufacturer, static_cast<size_t>(at[station::kStringAMax])},
          {Text::Product, static_cast<size_t>(at[station::kStringBMax])},
          {Text::Serial, static_cast<size_t>(at[station::kSerialMax])},
          {Text::ScsiVendor, bridge::kInquiryVendorSize},
          {Text::ScsiProduct, bridge::kInquiryProductSize}};
}

// Items whose values must be there when they are switched on.
struct Needed {
  Item item;
  Text texts[2];
  int count;
};

bool Complete(const SettingEntry& entry, bool qvs87x) {
  if ((entry.item(Item::Vid) && !entry.vid) || (entry.item(Item::Pid) && !entry.pid)) return false;
  const Needed common[] = {{Item::Serial, {Text::Serial, Text::Serial}, 1}};
  const Needed qvs87xItems[] = {
      {Item::ManuProdControl, {Text::UsbManufacturer, Text::UsbProduct}, 2},
      {Item::InquiryControl, {Text::ScsiVendor, Text::ScsiProduct}, 2},
  };
  const Needed otherItems[] = {
      {Item::ManufacturerString, {Text::Manufacturer, Text::Manufacturer}, 1},
      {Item::ProductString, {Text::Product, Text::Product}, 1},
      {Item::DisplayDiskString, {Text::ScsiVendor, Text::ScsiProduct}, 2},
  };
  const auto check = [&](std::span<const Needed> needs) {
    for (const Needed& n : needs) {
      if (!entry.item(n.item)) continue;
      for (int i = 0; i < n.count; ++i)
        if (!entry.text(n.texts[i])) return false;
    }
    return true;
  };
  return check(common) && (qvs87x ? check(qvs87xItems) : check(otherItems));
}

std::string Hex4(uint16_t value) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

std::string TextOr(const SettingEntry& entry, Item item, Text text, const std::string& current) {
  return entry.item(item) ? *entry.text(text) : current;
}

void FillQvs87x(const SettingEntry& entry, const ListedDevice& device, UpdateSettings& u) {
  station::SettingsBlock& s = u.settings;
  station::Qvs87xSources sources;
  // A product that runs no firmware (erased for a clone write) tells
  // nothing: what the entry does not switch on stays empty.
  (void)station::ReadQvs87xIdentity(device.path.c_str(), s, sources);
  if (entry.item(Item::Vid)) s.VidValue = *entry.vid;
  if (entry.item(Item::Pid)) s.PidValue = *entry.pid;
  if (entry.item(Item::Serial)) {
    station::SetFixedText(s.SerialText, *entry.text(Text::Serial));
    s.SerialLength = static_cast<int32_t>(entry.text(Text::Serial)->size());
  }
  s.EnManuProdStrSourceCtl = sources.manuProd;
  if (entry.item(Item::ManuProdControl)) {
    station::SetFixedText(s.StringCText, *entry.text(Text::UsbManufacturer));
    station::SetFixedText(s.StringBText, *entry.text(Text::UsbProduct));
    s.EnManuProdStrSourceCtl = entry.item(Item::ManuProdSource);
  }
  s.EnInquiryStrSourceCtl = sources.inquiry;
  if (entry.item(Item::InquiryControl)) {
    station::SetFixedText(s.InquiryVendor, *entry.text(Text::ScsiVendor));
    station::SetFixedText(s.InquiryProduct, *entry.text(Text::ScsiProduct));
    s.EnInquiryStrSourceCtl = entry.item(Item::InquirySource);
  }
  SetFieldText(s.VenderID, Hex4(s.VidValue));
  SetFieldText(s.ProductID, Hex4(s.PidValue));
}

void FillOther(const SettingEntry& entry, const ListedDevice& device, bridge::ChipType chipType,
               UpdateSettings& u) {
  station::SettingsBlock& s = u.settings;
  const SystemView current = ReadSystemView(device).value_or(SystemView{});
  const station::EepromLayout& layout = LibraryLayout(chipType);
  station::LoadLayoutDefaults(s.OptionBlock, *layout.defaults);
  station::ApplyLayoutOffsets(s, layout, true);
  s.TableType = layout.layoutIndex;
  const uint16_t vid = entry.item(Item::Vid) ? *entry.vid : current.vid;
  const uint16_t pid = entry.item(Item::Pid) ? *entry.pid : current.pid;
  (void)station::CollectIds(s, Hex4(vid), Hex4(pid));  // four hex digits always convert
  const std::string manufacturer =
      TextOr(entry, Item::ManufacturerString, Text::Manufacturer, current.manufacturer);
  SetFieldText(s.StringA, manufacturer);
  if (KeepsConfigPage(chipType)) {
    // The page takes its manufacturer descriptor from StringC; StringA is the
    // disk string it shows as its INQUIRY texts: vendor blank-filled to 8,
    // then the product. Empty, the disk's own show.
    SetFieldText(s.StringC, manufacturer);
    std::string diskString;
    if (entry.item(Item::DisplayDiskString)) {
      diskString = *entry.text(Text::ScsiVendor);
      diskString.resize(bridge::kInquiryVendorSize, ' ');
      diskString += *entry.text(Text::ScsiProduct);
    }
    SetFieldText(s.StringA, diskString);
  }
  SetFieldText(s.StringB, TextOr(entry, Item::ProductString, Text::Product, current.product));
  station::StoreSerialNumber(s, TextOr(entry, Item::Serial, Text::Serial, current.serial));
  if (entry.item(Item::DisplayDiskString)) {
    station::SetFixedText(s.InquiryVendor, *entry.text(Text::ScsiVendor));
    station::SetFixedText(s.InquiryProduct, *entry.text(Text::ScsiProduct));
  }
  s.MapToHDName = entry.item(Item::MapToDiskString) ? 1 : 0;
  u.options.EnMultiSec = entry.item(Item::MultiSector) ? 1 : 0;
}

}  // namespace

std::optional<UpdateSettings> SettingsForEntry(const SettingEntry& entry,
                                               const ListedDevice& device,
                                               bridge::ChipType chipType) {
  const bool qvs87x = IsQvs87x(chipType);
  if (!Complete(entry, qvs87x)) return std::nullopt;
  for (const TextLimit& limit : LimitsOf(chipType)) {
    const std::optional<std::string>& text = entry.text(limit.text);
    if (text && text->size() > limit.maxChars) return std::nullopt;
  }
  UpdateSettings u;
  if (qvs87x) {
    FillQvs87x(entry, device, u);
  } else {
    FillOther(entry, device, chipType, u);
  }
  // Without a timer of its own the product keeps the one it has.
  std::optional<int> minutes;
  if (entry.item(Item::StandbyTimer)) minutes = entry.standbyMinutes;
  if (!minutes && qvs87x) minutes = ReadStandbyMinutes(device.path.c_str());
  u.settings.StandbyTimer = minutes.value_or(-1);
  return u;
}

const station::EepromLayout& LibraryLayout(bridge::ChipType chipType) {
  return *station::FindEepromLayout(station::LayoutFamily::kStandard,
                                    TakesEightBitLayout(chipType) ? kConfigAreaLayoutItem
                                                                  : kLibraryLayoutItem);
}

UpdateSettings SettingsForPreserved(const PreservedIdentity& preserved) {
  UpdateSettings u;
  u.settings = preserved.settings;
  u.settings.EnManuProdStrSourceCtl = preserved.sources.manuProd;
  u.settings.EnInquiryStrSourceCtl = preserved.sources.inquiry;
  return u;
}

std::optional<int> ReadStandbyMinutes(const char* path) {
  uint8_t page[bridge::kPowerConditionPageSize] = {};
  if (!bridge::ModeSensePowerCondition(path, page, sizeof page)) return std::nullopt;
  if (page[kPowerPageEnabled] == 0) return 0;
  return static_cast<int>(platform::GetBigEndian32(page + kPowerPageTimer) / kTicksPerMinute);
}

}  // namespace qvfw
