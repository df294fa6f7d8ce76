#include "station/settings_collection.h"

#include <iterator>

#include "platform/ini_file.h"
#include "station/eeprom_layout.h"

namespace station {
namespace {

template <size_t N>
int32_t ValueOfItem(const int32_t (&values)[N], int32_t item) {
  return item >= 0 && static_cast<size_t>(item) < N ? values[item] : 0;
}

}  // namespace

int32_t CapacityOfItem(int32_t item) { return ValueOfItem(kCapacityValues, item); }
int32_t ClusterSizeOfItem(int32_t item) { return ValueOfItem(kClusterValues, item); }

// The settings file's integer rules are the conversion the edits need too:
// an optional sign and decimal digits, or "0x" and hexadecimal digits.
std::optional<int32_t> ConvertInteger(std::string_view text) {
  return platform::ParseProfileInteger(text);
}

std::optional<int32_t> ConvertHex(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return platform::ParseProfileInteger("0x" + std::string(text));
}

int32_t NumberOrZero(std::string_view text) { return ConvertInteger(text).value_or(0); }

std::string ComposeInquiryString(std::string_view vendor, std::string_view product) {
  std::string text(vendor.substr(0, 8));
  text.resize(8, ' ');
  text.append(product.substr(0, 16));
  return text;
}

std::string CollectErrorMessage(CollectError error, std::string_view text) {
  const char* field = nullptr;
  const char* kind = "a hexadecimal number";
  switch (error) {
    case CollectError::kNone: return {};
    case CollectError::kVendorId: field = "Vendor ID"; break;
    case CollectError::kProductId: field = "Product ID"; break;
    case CollectError::kOddSize: field = "ODD Size"; kind = "a decimal number"; break;
  }
  return std::string(field) + ": '" + std::string(text) + "' is not " + kind + ".";
}

CollectError CollectIds(SettingsBlock& settings, std::string_view vendorIdText,
                        std::string_view productIdText) {
  struct Id {
    std::string_view text;
    char (&field)[10];
    int32_t offset;
    uint16_t& value;
    CollectError error;
  };
  const Id ids[] = {
      {vendorIdText, settings.VenderID, settings.OptionOffsets[kVidOffset], settings.VidValue,
       CollectError::kVendorId},
      {productIdText, settings.ProductID, settings.OptionOffsets[kPidOffset], settings.PidValue,
       CollectError::kProductId},
  };
  for (const Id& id : ids) {
    const std::string_view cut = id.text.substr(0, 4);
    SetFieldText(id.field, cut);
    const std::optional<int32_t> cutValue = ConvertHex(cut);
    const std::optional<int32_t> whole = ConvertHex(id.text);
    if (!whole || (!cut.empty() && !cutValue)) return id.error;
    StoreId(settings.OptionBlock, id.offset, static_cast<uint16_t>(cutValue.value_or(0)));
    id.value = static_cast<uint16_t>(*whole & 0xFFFF);
  }
  return CollectError::kNone;
}

void CollectLayout(SettingsBlock& settings, StationOptions& options, const DeviceMix& mix,
                   int32_t eepromTypeItem, int32_t q646FlashItem) {
  const bool qvs646 = mix.AnyQvs646 && !mix.MixedQvs646;
  // The chosen item's own positions, for the QVS646 family too: the edits
  // built the block in that layout, and the "Normal" positions laid over a
  // "Type 3" block would put the VID on its serial's string-index byte.
  const EepromLayout* layout = FindEepromLayout(
      qvs646 ? LayoutFamily::kQvs646 : LayoutFamily::kStandard, eepromTypeItem);
  if (layout) ApplyLayoutOffsets(settings, *layout, false);
  if (qvs646) options.FlashType = static_cast<uint8_t>(q646FlashItem);
}

}  // namespace station
