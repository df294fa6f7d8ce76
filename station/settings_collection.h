// The conversions of collecting the window's settings into the settings
// block: the value lists of the two choice boxes, the number texts of the
// edits, the INQUIRY text mapped into string A, and the IDs and layout
// positions of the identity settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "station/device_mix.h"
#include "station/settings_block.h"

namespace station {

// Value lists of the capacity and cluster-size choices, by item position.
inline constexpr int32_t kCapacityValues[] = {0, 1, 80, 120, 160, 250, 320, 400, 500, 640, 750, 1000, 1500, 2000};
inline constexpr int32_t kClusterValues[] = {0, 512, 4096, 32768};
inline constexpr int32_t kUserDefinedCapacity = 1;

// The value of a choice's item; 0 for no selection.
int32_t CapacityOfItem(int32_t item);
int32_t ClusterSizeOfItem(int32_t item);

// A number text as the edits give it: decimal (with sign) or "0x" hex, 32
// bits; none when it is not one (empty included).
std::optional<int32_t> ConvertInteger(std::string_view text);
// Hexadecimal digits without a prefix, 32 bits; none when not.
std::optional<int32_t> ConvertHex(std::string_view text);
// A count typed in a digits-only edit: its value, 0 when empty or not a
// number (a pasted text is never an error).
int32_t NumberOrZero(std::string_view text);

// String A as the INQUIRY vendor (8) and product (16): the vendor cut and
// padded with blanks to 8, so a short vendor keeps the product behind it.
std::string ComposeInquiryString(std::string_view vendor, std::string_view product);

// The identity field of the window that could not be converted.
enum class CollectError : uint8_t { kNone, kVendorId, kProductId, kOddSize };

// The text naming the field in the message; empty for kNone.
std::string CollectErrorMessage(CollectError error, std::string_view text);

// VenderID / ProductID (cut to 4), their values in the option block at
// OptionOffsets [0] / [1] and VidValue / PidValue. On a text that is not
// hexadecimal the error names the field; what was collected before it stays.
CollectError CollectIds(SettingsBlock& settings, std::string_view vendorIdText,
                        std::string_view productIdText);

// The layout positions the collection re-applies: those of the chosen
// EEPROM type for the attached family (entry [5] kept); with only
// QVS646-family devices also FlashType from the flash choice. Nothing when
// the choice has no item.
void CollectLayout(SettingsBlock& settings, StationOptions& options, const DeviceMix& mix,
                   int32_t eepromTypeItem, int32_t q646FlashItem);

}  // namespace station
