#include "station/settings_engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cstdint>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "station/step_helpers.h"

namespace station {
namespace {

bool IsExistingFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Why a settings or yield file that is there cannot be read; null when it
// can (or is missing).
const char* Unreadable(platform::FileRead read) {
  switch (read) {
    case platform::FileRead::kRead:
    case platform::FileRead::kMissing: return nullptr;
    case platform::FileRead::kNotRegular: return kNotRegularFile;
    case platform::FileRead::kTooLarge: return kFileTooLarge;
    case platform::FileRead::kFailed: return kFileUnreadable;
  }
  return kFileUnreadable;
}

bool EnsureFolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

// A 64-bit integer from a decimal text read as a float, cut towards zero.
std::optional<int64_t> ParseDecimal(std::string_view text) {
  const std::optional<double> value = platform::ParseProfileFloat(text);
  // 2^63 is exact in a double; everything below it converts.
  if (!value || *value >= 9223372036854775808.0 || *value < -9223372036854775808.0)
    return std::nullopt;
  return static_cast<int64_t>(*value);
}

int32_t Current(const FieldRef& field) {
  if (int32_t* const* p = std::get_if<int32_t*>(&field)) return **p;
  return *std::get<uint8_t*>(field);
}

void StoreText(std::span<char> field, std::string_view text) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  // The field keeps its terminator.
  const size_t n = field.empty() ? 0 : std::min(text.size(), field.size() - 1);
  std::fill(field.begin(), field.end(), '\0');
  std::copy_n(text.begin(), n, field.begin());
}

std::string_view TextOf(std::span<const char> field) {
  const auto nul = std::find(field.begin(), field.end(), '\0');
  return std::string_view(field.data(), static_cast<size_t>(nul - field.begin()));
}

void ReadYieldCounters(YieldCounters yield) {
  const platform::IniFile file(YieldFilePath());
  if (const char* why = Unreadable(file.readResult())) ShowSettingsError(WithPath(why, file.path()));
  yield.total = file.ReadInteger(kYieldSection, "TotalTestCount", 0);
  yield.passed = file.ReadInteger(kYieldSection, "NumberOfPass", 0);
}

void ApplyWrites(platform::IniFile& ini, std::span<const SettingWrite> writes) {
  for (const SettingWrite& w : writes) {
    if (w.text) {
      ini.WriteString(w.section, w.name, *w.text);
      continue;
    }
    if (const auto* text = std::get_if<std::span<char>>(&w.field)) {
      const std::string_view value = TextOf(*text);
      // The closing quote must not fall behind a line end the file cuts at.
      if (w.form == WriteForm::kQuotedText)
        ini.WriteString(w.section, w.name, "'" + std::string(value.substr(0, value.find_first_of("\r\n"))) + "'");
      else ini.WriteString(w.section, w.name, value);
      continue;
    }
    if (const auto* p = std::get_if<float*>(&w.field)) {
      ini.WriteFloat(w.section, w.name, static_cast<double>(**p));
      continue;
    }
    int64_t value = 0;
    if (const auto* p = std::get_if<int32_t*>(&w.field)) value = **p;
    if (const auto* p = std::get_if<uint8_t*>(&w.field)) value = **p;
    if (const auto* p = std::get_if<int64_t*>(&w.field)) value = **p;
    if (w.value) value = *w.value;
    if (w.form == WriteForm::kBoolean) ini.WriteBool(w.section, w.name, value != 0);
    else ini.WriteInteger(w.section, w.name, value);
  }
}

}  // namespace

std::string WithPath(std::string_view text, std::string_view path) {
  std::string filled(text);
  const size_t at = filled.find("%s");
  if (at != std::string::npos) filled.replace(at, 2, path);
  return filled;
}

std::string LocalPath(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string DefaultIniPath() { return platform::ResolveInProgramFolder(kSettingsFileName); }

std::string YieldFilePath() { return platform::ResolveInProgramFolder(LocalPath(kYieldFileName)); }

bool EnsureLogFolder() { return EnsureFolder(platform::ResolveInProgramFolder(kLogFolderName)); }

void ShowSettingsError(const std::string& text) {
  platform::MessageBox(text.c_str(), "Error", platform::kMbOk | platform::kMbIconError);
}

int32_t IntegerDefault(std::string_view fallback) { return platform::ParseProfileInteger(fallback).value_or(0); }

bool ReadSettingValue(const platform::IniFile& ini, std::string_view section, std::string_view name,
                      ValueType type, std::string_view fallback, LoadRule rule, const FieldRef& field) {
  switch (type) {
    case ValueType::kText:
      StoreText(std::get<std::span<char>>(field), ini.ReadString(section, name, fallback));
      return true;
    case ValueType::kFloat: {
      const double standard = platform::ParseProfileFloat(fallback).value_or(0);
      double v = ini.ReadFloat(section, name, standard);
      if (v > FLT_MAX || v < -FLT_MAX) v = standard;
      *std::get<float*>(field) = static_cast<float>(v);
      return true;
    }
    case ValueType::kDecimal: {
      // Empty or malformed takes the default too, rather than ending the load.
      const int64_t standard = ParseDecimal(fallback).value_or(0);
      const std::optional<std::string> text = ini.Read(section, name);
      const std::optional<int64_t> value = text ? ParseDecimal(*text) : std::optional<int64_t>(standard);
      *std::get<int64_t*>(field) = value.value_or(standard);
      return value.has_value();
    }
    case ValueType::kInteger:
      break;
    case ValueType::kNone:
      return true;
  }
  if (rule == LoadRule::kWhileZero && Current(field) != 0) return true;
  const int32_t standard = IntegerDefault(fallback);
  int32_t v = ini.ReadInteger(section, name, standard);
  switch (rule) {
    case LoadRule::kFlag: v = v != 0; break;
    case LoadRule::kZeroIsTwo: if (v == 0) v = 2; break;
    case LoadRule::kNotNegative: if (v < 0) v = 0; break;
    case LoadRule::kUnsigned: if (v < 0) v = standard; break;
    case LoadRule::kFileSystem: if (v < kFileSystemNtfs || v > kFileSystemExfat) v = 0; break;
    case LoadRule::kStore:
    case LoadRule::kWhileZero:
      // An 8-bit field holds what the save writes (signed, so 255 goes out
      // as -1) and no more: 999 is no flash type, not type 231.
      if (std::holds_alternative<uint8_t*>(field) && (v < INT8_MIN || v > UINT8_MAX)) v = standard;
      break;
  }
  if (int32_t* const* p = std::get_if<int32_t*>(&field)) **p = v;
  else *std::get<uint8_t*>(field) = static_cast<uint8_t>(v);
  return true;
}

void ReadWriteFileName(const platform::IniFile& ini, std::string_view section, std::string_view name,
                       std::string_view fallback, std::span<char> field) {
  const std::string value = ini.ReadString(section, name, fallback);
  if (value.empty()) ShowSettingsError("Please set write file name in the INI file");
  // A path longer than the field is cut to it, like every text; the file
  // looked for is the one the field names.
  StoreText(field, platform::ResolveInProgramFolder(value));
  const std::string path(TextOf(field));
  if (!IsExistingFile(path)) ShowSettingsError("Unable to find the test file : " + path);
}

std::optional<platform::IniFile> BeginSettingsLoad(const std::string& path, YieldCounters yield,
                                                   LoadResult& result) {
  if (!EnsureLogFolder()) {
    result.error = "Cannot create log directory.";
    ShowSettingsError(result.error);
    return std::nullopt;
  }
  // The counters in memory are newer than the file once it has been read:
  // store them before reading it again, and keep them if that fails.
  if (yield.loaded == 0 || SaveYieldCounters(yield.total, yield.passed) == 1) ReadYieldCounters(yield);
  yield.loaded = 1;

  std::string file = platform::ResolveInProgramFolder(path);
  if (!IsExistingFile(file)) {
    ShowSettingsError(WithPath("Please make sure the file %s exist!\n", file));
    return std::nullopt;
  }
  // A pipe would keep the load waiting, a device or a huge file would fill
  // memory: such a file is read as no file at all.
  platform::IniFile ini(file);
  if (const char* why = Unreadable(ini.readResult())) {
    ShowSettingsError(WithPath(why, file));
    return std::nullopt;
  }
  return ini;
}

SettingWrite* FindWrite(std::vector<SettingWrite>& writes, std::string_view name) {
  for (SettingWrite& write : writes)
    if (write.name == name) return &write;
  return nullptr;
}

void KeepUnreadTexts(std::vector<SettingWrite>& writes, std::span<const UnreadValue> unread) {
  for (SettingWrite& write : writes)
    for (const UnreadValue& value : unread)
      if (write.section == value.section && write.name == value.name) write.text = value.text;
}

std::string ConversionError(const UnreadValue& value) {
  return "'" + value.text + "' is not a valid floating point value";
}

int WriteSettings(const std::string& path, std::span<const SettingWrite> writes) {
  const std::string file = platform::ResolveInProgramFolder(path);
  platform::IniFile ini(file);
  ApplyWrites(ini, writes);
  if (!ini.Flush()) {
    ShowSettingsError(WithPath("Unable to write to %s", file));
    return 0;
  }
  return 1;
}

std::vector<SettingWrite> WritesOf(std::span<const SettingWrite> writes, std::string_view section,
                                   std::initializer_list<std::string_view> names) {
  std::vector<SettingWrite> kept;
  for (const SettingWrite& w : writes)
    if (w.section == section && std::find(names.begin(), names.end(), w.name) != names.end()) kept.push_back(w);
  return kept;
}

bool StoreSettingsKeys(const std::string& path, std::span<const SettingWrite> writes) {
  const std::string file = platform::ResolveInProgramFolder(path);
  // As the save at exit: into a settings file that is there, never a new one.
  if (!IsExistingFile(file) || platform::IsReadOnlyFile(file)) return false;
  platform::IniFile ini(file);
  ApplyWrites(ini, writes);
  return ini.Flush();
}

bool StoreYieldCounters(int32_t total, int32_t passed) {
  // A folder that cannot be made shows as the write's own failure below.
  static_cast<void>(EnsureLogFolder());
  platform::IniFile yield(YieldFilePath());
  yield.WriteInteger(kYieldSection, "TotalTestCount", total);
  yield.WriteInteger(kYieldSection, "NumberOfPass", passed);
  return yield.Flush();
}

bool KeepYieldCounters(int32_t total, int32_t passed) {
  if (StoreYieldCounters(total, passed)) return true;
  ShowUnwritable(kYieldNotKept, YieldFilePath());
  return false;
}

int SaveYieldCounters(int32_t total, int32_t passed) {
  if (!StoreYieldCounters(total, passed)) {
    ShowSettingsError(WithPath("Unable to write to %s", YieldFilePath()));
    return 0;
  }
  return 1;
}

void ShowUnwritable(std::string_view text, const std::string& path) { ShowSettingsError(WithPath(text, path)); }

}  // namespace station
