// The settings file (Kestrova.ini) and the yield file: one table of keys
// drives both the load, in the reading order, and the save, in the writing
// order. The load does not touch widgets: it returns what the main window
// must show, in the order the window has to apply it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "station/settings_block.h"

namespace station {

inline constexpr char kSettingsFileName[] = "Kestrova.ini";
// Below the program folder. Both programs name it with a backslash; on this
// platform the backslash is taken as the folder separator (LocalPath).
inline constexpr char kYieldFileName[] = "log\\QV4164x.log";
inline constexpr char kLogFolderName[] = "log";
inline constexpr char kYieldSection[] = "TestRecord";

// A relative name with backslash separators as a path of this platform.
std::string LocalPath(std::string_view name);
// The settings file at start-up: Kestrova.ini in the program folder.
std::string DefaultIniPath();
std::string YieldFilePath();

// --- The key table -------------------------------------------------------

enum class ValueType : uint8_t {
  kInteger,  // decimal or 0x hex; missing, empty or malformed: the default
  kText,     // only a missing key takes the default
  kFloat,    // C-locale decimal number
  kDecimal,  // a decimal text read as a float and cut to a 64-bit integer
  kNone,     // not read
};

enum class WriteForm : uint8_t { kNone, kInteger, kBoolean, kText, kFloat };

// What the load does with a value before storing it.
enum class LoadRule : uint8_t {
  kStore,
  kFlag,          // stored as 0/1
  kZeroIsTwo,     // 0 becomes 2
  kNotNegative,   // a negative value becomes 0
  kUnsigned,      // a negative value takes the default: the field is a count
  kWhileZero,     // read only while the field is still 0
  kFileSystem,    // one of the three file-system choices, else 0
};

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

using FieldRef = std::variant<int32_t*, uint8_t*, int64_t*, float*, std::span<char>>;
using FieldOf = FieldRef (*)(SettingsBlock&, StationOptions&);

struct SettingsKey {
  std::string_view section;
  std::string_view name;
  ValueType type;
  std::string_view fallback;  // the default, as file text
  FieldOf field;              // the SettingsBlock field or StationOptions entry
  WriteForm write;
  int writeRank;  // position in the writing order; -1: not written
  LoadRule rule;
  LoadHook hook;
};

// Every key of the settings file, in the order the load reads them.
std::span<const SettingsKey> SettingsKeys();

// --- Control effects of a load --------------------------------------------

enum class Effect : uint8_t {
  kChecked,        // value 0/1; a change runs the box's click handler
  kEnabled,        // value 0/1
  kVisible,        // value 0/1
  kText,           // text
  kCaption,        // text
  kItemIndex,      // value, -1 for no selection
  kMaxLength,      // value
  kClickHandler,   // run the control's click handler now
  kChangeHandler,  // run the control's change handler now
};

struct ControlEffect {
  std::string_view control;
  Effect effect;
  int32_t value = 0;
  std::string text;
  bool operator==(const ControlEffect&) const = default;
};

struct LoadResult {
  // 1 when the settings file was there and its keys were read.
  int settingsRead = 0;
  // The error that ended the load early ("Cannot create log directory."),
  // already shown to the operator; empty otherwise.
  std::string error;
  std::vector<ControlEffect> effects;
};

// Reads the yield file and the settings file at `path` (relative: below the
// program folder) into `block` and `options`. Messages go to the operator
// through platform::MessageBox as the load meets them.
LoadResult LoadSettings(const std::string& path, SettingsBlock& block, StationOptions& options);

// Writes `block` (a copy: the caller's record is not touched) and `options`
// to the settings file at `path` (relative: below the program folder),
// keeping every line the save does not write. 1 on success; 0 after
// "Unable to write to %s" was shown, with the file left as it was.
[[nodiscard]] int SaveSettingsToIni(const std::string& path, SettingsBlock block,
                                    const StationOptions& options);

// Writes the yield counters of `block` to the yield file; 1 / 0 as above.
[[nodiscard]] int SaveYieldCounters(const SettingsBlock& block);

}  // namespace station
