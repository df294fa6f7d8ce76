// The CustomizedSettingTable: per device path, the identity items the
// station switched on and the values it handed over for the next update.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "qvfw/qvfw_api.h"

namespace qvfw {

// Items an enable call switches; the order is that of `SettingEntry::items`.
enum class Item : uint8_t {
  Vid, Pid, ManufacturerString, Serial, ProductString, MapToDiskString, DisplayDiskString,
  PretendSuper, ManuProdControl, InquiryControl, StandbyTimer, SerialFromNvram,
  ManuProdSource, InquirySource, MultiSector,
  Count
};

// Texts a set call stores.
enum class Text : uint8_t {
  Manufacturer, Serial, Product, ScsiVendor, ScsiProduct, UsbManufacturer, UsbProduct,
  Count
};

struct SettingEntry {
  bool inUse = false;
  std::string path;  // as handed over; compared without case
  std::array<bool, static_cast<size_t>(Item::Count)> items{};
  std::array<std::optional<std::string>, static_cast<size_t>(Text::Count)> texts{};
  std::optional<uint16_t> vid;
  std::optional<uint16_t> pid;
  std::optional<int> standbyMinutes;

  bool item(Item i) const { return items[static_cast<size_t>(i)]; }
  const std::optional<std::string>& text(Text t) const { return texts[static_cast<size_t>(t)]; }
};

// 1-4 hexadecimal digits and nothing else.
bool ParseHexDigits(std::string_view text, uint16_t* value);

// All table operations take the library's one mutex themselves.
// Empties the table.
void ClearSettingTable();
// The entry's index, -1 when no entry holds the path.
int SettingIndexOf(const char* path);
// Runs `change` on the path's entry, making it when there is none; false
// when the table is full.
bool ChangeSetting(const char* path, const std::function<void(SettingEntry&)>& change);
// Re-points an entry in use; false for an index not in use, or a path
// another entry holds.
bool SetSettingPath(int index, const char* path);
// A copy of the path's entry.
std::optional<SettingEntry> SettingOf(const char* path);

}  // namespace qvfw
