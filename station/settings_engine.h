// The engine both programs' settings files run on: a table of keys, each
// naming its section, key, value type, default, field and how it is
// written, drives the load in the reading order and the save in the writing
// order. A program brings its own table, its own record and its own load
// steps; the file rules, the yield file and the messages are the same.
// The load does not touch widgets: it returns what the main window must
// show, in the order the window has to apply it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/ini_file.h"

namespace station {

inline constexpr char kSettingsFileName[] = "Kestrova.ini";
// Below the program folder. Both programs name it with a backslash; on this
// platform the backslash is taken as the folder separator (LocalPath).
inline constexpr char kYieldFileName[] = "log\\QV4164x.log";
inline constexpr char kLogFolderName[] = "log";
inline constexpr char kYieldSection[] = "TestRecord";

// A settings or yield file that is there but is not read.
inline constexpr char kNotRegularFile[] = "Unable to read %s: it is not a regular file";
inline constexpr char kFileTooLarge[] = "Unable to read %s: it is larger than 1048576 bytes";
inline constexpr char kFileUnreadable[] = "Unable to read %s";

// A relative name with backslash separators as a path of this platform.
std::string LocalPath(std::string_view name);
// The settings file at start-up: Kestrova.ini in the program folder.
std::string DefaultIniPath();
std::string YieldFilePath();
// Makes the log folder beside the program unless it is there; false when
// there is none (a file of that name, or it cannot be made).
[[nodiscard]] bool EnsureLogFolder();

// --- Keys ------------------------------------------------------------------

enum class ValueType : uint8_t {
  kInteger,  // decimal or 0x hex; missing, empty or malformed: the default
  kText,     // only a missing key takes the default
  kFloat,    // C-locale decimal number
  kDecimal,  // a decimal text read as a float and cut to a 64-bit integer
  kNone,     // not read
};

enum class WriteForm : uint8_t {
  kNone,
  kInteger,
  kBoolean,
  kText,
  kFloat,
  // The text between single quotes, so that a reader that takes one pair of
  // enclosing quotes off gives back its leading and trailing blanks. The
  // quotes are added to the written value only, never to the field.
  kQuotedText,
};

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

using FieldRef = std::variant<int32_t*, uint8_t*, int64_t*, float*, std::span<char>>;

inline FieldRef FieldRefOf(int32_t& f) { return &f; }
inline FieldRef FieldRefOf(uint8_t& f) { return &f; }
inline FieldRef FieldRefOf(int64_t& f) { return &f; }
inline FieldRef FieldRefOf(float& f) { return &f; }
template <size_t N>
FieldRef FieldRefOf(char (&f)[N]) {
  return std::span<char>(f, N);
}

// One key of a program's table. `Hook` names the program's load step tied
// to the key.
template <class Block, class Options, class Hook>
struct BasicSettingsKey {
  std::string_view section;
  std::string_view name;
  ValueType type;
  std::string_view fallback;              // the default, as file text
  FieldRef (*field)(Block&, Options&);    // the record's field or station option
  WriteForm write;
  int writeRank;  // position in the writing order; -1: not written
  LoadRule rule;
  Hook hook;
};

// Reads the key's value by its type into its field and applies its rule.
// Text is cut to the field; a decimal text that is empty, malformed or out
// of the 64-bit range takes the default instead of ending the load. False
// only then, so that a program that must say so can.
bool ReadSettingValue(const platform::IniFile& ini, std::string_view section, std::string_view name,
                      ValueType type, std::string_view fallback, LoadRule rule, const FieldRef& field);

template <class Key>
bool ReadSettingValue(const platform::IniFile& ini, const Key& key, const FieldRef& field) {
  return ReadSettingValue(ini, key.section, key.name, key.type, key.fallback, key.rule, field);
}

// The integer a key's default stands for.
int32_t IntegerDefault(std::string_view fallback);

// The test data file name: an empty one is reported, a bare name is taken
// from the program folder, one that does not fit the field is cut to it like
// every text, and the file the field then names is reported when missing.
// The load goes on in every case.
void ReadWriteFileName(const platform::IniFile& ini, std::string_view section, std::string_view name,
                       std::string_view fallback, std::span<char> field);

// --- Control effects of a load -----------------------------------------------

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

// A decimal key (FreeSpace, FreeSpaceRange) whose text is no number, an
// empty one included: the key took its default and the load went on.
struct UnreadValue {
  std::string_view section;
  std::string_view name;
  std::string text;  // as the file has it
  bool operator==(const UnreadValue&) const = default;
};

// The conversion error the operator is shown for it.
std::string ConversionError(const UnreadValue& value);

struct LoadResult {
  // 1 when the settings file was there and its keys were read.
  int settingsRead = 0;
  // The error that ended the load early ("Cannot create log directory."),
  // already shown to the operator; empty otherwise.
  std::string error;
  std::vector<ControlEffect> effects;
  // For the window to show; its saves write these texts back unchanged, so
  // the operator's text is never replaced by the default it stood in for.
  std::vector<UnreadValue> unreadValues;
};

// Appends control effects in the order they are asked for.
class Effects {
 public:
  explicit Effects(std::vector<ControlEffect>& out) : out_(out) {}
  void Checked(std::string_view c, int32_t v) { Add(c, Effect::kChecked, v != 0); }
  void Enabled(std::string_view c, int32_t v) { Add(c, Effect::kEnabled, v != 0); }
  void Visible(std::string_view c, int32_t v) { Add(c, Effect::kVisible, v != 0); }
  void ItemIndex(std::string_view c, int32_t v) { Add(c, Effect::kItemIndex, v); }
  void MaxLength(std::string_view c, int32_t v) { Add(c, Effect::kMaxLength, v); }
  void Click(std::string_view c) { Add(c, Effect::kClickHandler, 0); }
  void Change(std::string_view c) { Add(c, Effect::kChangeHandler, 0); }
  void Text(std::string_view c, std::string_view t) { Add(c, Effect::kText, 0, t); }
  void Caption(std::string_view c, std::string_view t) { Add(c, Effect::kCaption, 0, t); }

 private:
  void Add(std::string_view c, Effect e, int32_t v, std::string_view t = {}) {
    out_.push_back({c, e, v, std::string(t)});
  }
  std::vector<ControlEffect>& out_;
};

// The window's yield counters and whether they have been read from the
// yield file yet (from then on the counters in memory are the newer ones).
struct YieldCounters {
  int32_t& total;
  int32_t& passed;
  uint8_t& loaded;
};

// What every load does before it reads a key: makes the log folder (else
// the load ends with "Cannot create log directory."), reads the yield
// counters (stored first when the ones in memory are newer) and checks that
// the settings file exists (else "Please make sure the file %s exist!\n")
// and can be read. The file as read, or none when the load ends here.
std::optional<platform::IniFile> BeginSettingsLoad(const std::string& path, YieldCounters yield,
                                                   LoadResult& result);

// --- Saving ----------------------------------------------------------------

// One value as the save writes it.
struct SettingWrite {
  std::string_view section;
  std::string_view name;
  WriteForm form;
  FieldRef field;
  // Written instead of the numeric field's value.
  std::optional<int64_t> value;
  // Written as it is instead of the field.
  std::optional<std::string> text;
};

// The written keys of a table, in the writing order, bound to `block` and
// `options`.
template <class Key, class Block, class Options>
std::vector<SettingWrite> WritesInOrder(std::span<const Key> keys, Block& block, Options& options) {
  std::vector<const Key*> order;
  for (const Key& key : keys)
    if (key.write != WriteForm::kNone) order.push_back(&key);
  std::sort(order.begin(), order.end(), [](const Key* a, const Key* b) { return a->writeRank < b->writeRank; });
  std::vector<SettingWrite> writes;
  for (const Key* key : order) writes.push_back({key->section, key->name, key->write, key->field(block, options), {}, {}});
  return writes;
}

// The write of one key, for a program to adjust; null when none.
SettingWrite* FindWrite(std::vector<SettingWrite>& writes, std::string_view name);

// Each unread key goes out with the text the file had.
void KeepUnreadTexts(std::vector<SettingWrite>& writes, std::span<const UnreadValue> unread);

// Writes the values to the settings file at `path` (relative: below the
// program folder), keeping every line the save does not write. 1 on
// success; 0 after "Unable to write to %s" was shown, with the file left as
// it was.
[[nodiscard]] int WriteSettings(const std::string& path, std::span<const SettingWrite> writes);

// Writes the yield counters to the yield file; 1 / 0 as above.
[[nodiscard]] int SaveYieldCounters(int32_t total, int32_t passed);

// What a pass gives out and counts reaches the disk before the products
// leave, whole and synced (platform::IniFile::Flush), and nothing is shown:
// the values into the settings file at `path` (relative: below the program
// folder) only when that file exists and may be written, as at exit, never
// a new one; the yield counters into the yield file. False when the file
// cannot take them.
[[nodiscard]] bool StoreSettingsKeys(const std::string& path, std::span<const SettingWrite> writes);
[[nodiscard]] bool StoreYieldCounters(int32_t total, int32_t passed);
// What the operator is told when they cannot (ShowUnwritable, with the file).
inline constexpr char kSerialNotKept[] =
    "Unable to write to %s\nThe next serial number cannot be kept there, so no test starts until it can.";
inline constexpr char kYieldNotKept[] =
    "Unable to write to %s\nThe yield cannot be kept there, so no test starts until it can.";
// StoreYieldCounters, telling the operator kYieldNotKept when it fails.
[[nodiscard]] bool KeepYieldCounters(int32_t total, int32_t passed);
// The writes of `section` whose keys are among `names`, in their order.
std::vector<SettingWrite> WritesOf(std::span<const SettingWrite> writes, std::string_view section,
                                   std::initializer_list<std::string_view> names);

// `text` with `path` in place of its "%s".
std::string WithPath(std::string_view text, std::string_view path);
// A message box with the caption "Error" and the error icon.
void ShowSettingsError(const std::string& text);
// The same with `path` in place of the text's "%s".
void ShowUnwritable(std::string_view text, const std::string& path);

}  // namespace station
