// The first program's settings file (Kestrova.ini) and the yield file: its
// key table over the settings engine, its load steps and control effects,
// and its save.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "station/settings_block.h"
#include "station/settings_engine.h"

namespace station {

// Load steps tied to one key (control effects, dependent settings).
enum class LoadHook : uint8_t {
  kNone,
  kWriteFileName,
  kProductModel,
  kMPVersion,
  kBarcodeMode,
  kEppTypeC,
  kFlashType,
  kEEPROMRetry,
  kMapToHDName,
  kStrBFromHDSN,
  kStringMaxSn,
  kManuProdStrSource,
  kInquiryStrSource,
  kSNfromHDDSN,
  kBarcodeLength,
};

using FieldOf = FieldRef (*)(SettingsBlock&, StationOptions&);
using SettingsKey = BasicSettingsKey<SettingsBlock, StationOptions, LoadHook>;

// Every key of the settings file, in the order the load reads them.
std::span<const SettingsKey> SettingsKeys();

// Reads the yield file and the settings file at `path` (relative: below the
// program folder) into `block` and `options`. Messages go to the operator
// through platform::MessageBox as the load meets them, except the
// conversion errors of `unreadValues`, which the window shows after it.
LoadResult LoadSettings(const std::string& path, SettingsBlock& block, StationOptions& options);

// Writes `block` (a copy: the caller's record is not touched) and `options`
// to the settings file at `path` (relative: below the program folder),
// keeping every line the save does not write, and each of `unread` as the
// file had it. 1 on success; 0 after "Unable to write to %s" was shown,
// with the file left as it was.
[[nodiscard]] int SaveSettingsToIni(const std::string& path, SettingsBlock block, const StationOptions& options,
                                    std::span<const UnreadValue> unread = {});

// The serial texts a pass advances (StringA, StringB, String3) into the
// settings file at `path`, durably and only into a file that is there and
// may be written (StoreSettingsKeys); false when it cannot take them.
[[nodiscard]] bool StoreIssuedSerials(const std::string& path, SettingsBlock block, const StationOptions& options);

// Writes the yield counters of `block` to the yield file; 1 / 0 as above.
[[nodiscard]] inline int SaveYieldCounters(const SettingsBlock& block) {
  return SaveYieldCounters(block.TotalTestCount, block.NumberOfPass);
}

}  // namespace station
