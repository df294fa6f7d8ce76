// The second program's key set of Kestrova.ini over the station's settings
// engine: the same file, sections, defaults and yield file as the first
// program, its own keys, reading and writing orders and load steps. A load
// also hands the command time-out to the device library.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sdkstation/sdk_settings_block.h"
#include "station/settings_engine.h"

namespace sdkstation {

using station::ControlEffect;
using station::Effect;
using station::LoadResult;

// Load steps tied to one key (control effects, dependent settings).
enum class LoadHook : uint8_t {
  kNone,
  kWriteFileName,
  kProductModel,
  kMPVersion,
  kBarcodeMode,
  kSCSITimeout,
  kExecuteControls,  // after the last QVEXECUTE text
  kMapToHDName,
  kStrBFromHDSN,
  kStringMaxSn,
  kManuProdStrSource,
  kInquiryStrSource,
  kSNfromHDDSN,
  kBarcodeLength,
};

using SettingsKey = station::BasicSettingsKey<SdkSettingsBlock, StationOptions, LoadHook>;

// Every key of the second program, in the order the load reads them.
std::span<const SettingsKey> SettingsKeys();

// The window operation the identity-string controls are updated by; a load
// asks for it as a click effect after EnSNfromHDDSN.
inline constexpr char kUpdateStringOptions[] = "UpdateStringOptions";

using station::ConversionError;
using station::UnreadValue;

struct SdkLoadResult : LoadResult {
  // 1 when the settings file exists and names a test data file, else 0.
  int result = 0;
};

// Reads the yield file and the settings file at `path` (relative: below the
// program folder) into `block` and `options`, with the messages of the
// first program's load. The SCSITimeout read (10 without the key) goes to
// the bound library's QV_SetSCSITimeOut, once, right after it is read; a
// missing settings file reads no key and makes no library call.
SdkLoadResult LoadSettings(const std::string& path, SdkSettingsBlock& block, StationOptions& options);

// Writes `block` (a copy: the caller's record is not touched) and the
// options to the settings file at `path` (relative: below the program
// folder), keeping every line the save does not write: SCSITimeout is the
// station time-out, FmtSecPerClus -1 while the cluster choice is not
// offered, nine texts go out between single quotes, and each of `unread`
// as the file had it. 1 on success; 0 after "Unable to write to %s" was
// shown.
[[nodiscard]] int SaveSettingsToIni(const std::string& path, SdkSettingsBlock block, const StationOptions& options,
                                    std::span<const UnreadValue> unread = {});

// The serial number `serial` as String3 into the settings file at `path`,
// durably and only into a file that is there and may be written
// (station::StoreSettingsKeys); false when it cannot take it.
[[nodiscard]] bool StoreIssuedSerial(const std::string& path, const std::string& serial, SdkSettingsBlock block,
                                     const StationOptions& options);

// The yield edit's text: passed "/" total.
std::string YieldText(const SdkSettingsBlock& block);

}  // namespace sdkstation
