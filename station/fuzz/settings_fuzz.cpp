// Any bytes as Kestrova.ini, read with either program's key set: the reader
// and the loads must give defaults or clear messages, never a crash, a hang
// or an overflow; what a load stores must satisfy the load's invariants and
// survive a save and a second load.
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/ini_file.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "sdkstation/sdk_settings_file.h"
#include "station/settings_file.h"

namespace {

class SilentSink : public platform::MessageBoxSink {
 public:
  int Show(const std::string&, const std::string&, uint32_t flags) override {
    return platform::DefaultAnswer(flags);
  }
};

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The program folder of the run, removed when the fuzzer exits.
struct Folder {
  Folder() {
    char pattern[] = "/tmp/settings_fuzz.XXXXXX";
    const char* made = ::mkdtemp(pattern);
    Check(made != nullptr);
    path = made;
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

size_t Lines(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// A text the file format carries unchanged through a write and a read.
bool Stable(std::string_view t) {
  if (t.find('\r') != std::string_view::npos) return false;
  if (!t.empty() && (t.front() == ' ' || t.front() == '\t' || t.back() == ' ' || t.back() == '\t'))
    return false;
  return !(t.size() >= 2 && (t.front() == '"' || t.front() == '\'') && t.back() == t.front());
}

// Between quotes every text comes back but one that holds a line end.
bool StableQuoted(std::string_view t) { return t.find_first_of("\r\n") == std::string_view::npos; }

// Every key both written and read comes back as it was written: texts the
// format carries unchanged, floats and 64-bit values exactly, booleans as
// their truth.
template <class Key, class Block, class Options>
void CheckRoundTrip(std::span<const Key> keys, Block& first, Options& firstOptions, Block& second,
                    Options& secondOptions) {
  for (const Key& key : keys) {
    if (key.write == station::WriteForm::kNone || key.type == station::ValueType::kNone ||
        key.name == "WriteFileName")
      continue;
    const station::FieldRef a = key.field(first, firstOptions);
    const station::FieldRef b = key.field(second, secondOptions);
    if (const auto* t = std::get_if<std::span<char>>(&a)) {
      const std::string_view x(t->data(), strnlen(t->data(), t->size()));
      const auto& u = std::get<std::span<char>>(b);
      const bool stable = key.write == station::WriteForm::kQuotedText ? StableQuoted(x) : Stable(x);
      if (stable) Check(x == std::string_view(u.data(), strnlen(u.data(), u.size())));
    } else if (const auto* f = std::get_if<float*>(&a)) {
      Check(**f == *std::get<float*>(b));
    } else if (const auto* i = std::get_if<int64_t*>(&a)) {
      Check(**i == *std::get<int64_t*>(b));
    } else {
      const auto value = [](const station::FieldRef& r) -> int32_t {
        if (const auto* p = std::get_if<int32_t*>(&r)) return **p;
        return *std::get<uint8_t*>(r);
      };
      if (key.write == station::WriteForm::kBoolean) Check((value(a) != 0) == (value(b) != 0));
      else Check(value(a) == value(b));
    }
  }
}

void FuzzReader(std::string_view text) {
  platform::IniFile ini = platform::IniFile::FromText(text);
  Check(ini.Text() == text);  // reading changes no byte
  for (const station::SettingsKey& key : station::SettingsKeys()) {
    if (const auto value = ini.Read(key.section, key.name))
      Check(value->size() <= platform::kMaxValueLength);
    ini.ReadInteger(key.section, key.name, 0);
    ini.ReadFloat(key.section, key.name, 0);
  }
  // The input's own bytes as a value add one key line (and at most a
  // section line and a line end), never more.
  const size_t before = Lines(ini.Text());
  ini.WriteString("setting", "WriteFileName", text.substr(0, 300));
  ini.WriteString("Fuzz", "Value", text.substr(text.size() / 2));
  Check(Lines(ini.Text()) <= before + 5);
}

void FuzzLoad(const std::string& folder, std::string_view text) {
  std::ofstream(folder + "/Kestrova.ini", std::ios::binary | std::ios::trunc)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
  station::SettingsBlock first = station::ZeroedSettingsBlock();
  station::StationOptions firstOptions;
  const station::LoadResult r = station::LoadSettings("Kestrova.ini", first, firstOptions);
  Check(r.settingsRead == 1);
  Check(first.RWDataSize != 0 && first.TableType == 3);
  Check(firstOptions.MPAutorun >= 0 && firstOptions.MPDevCount >= 0);
  Check(first.EPPPowerGPIODelay >= 0 && first.EPPPowerOffDelay >= 0);
  Check(first.DiskFormat <= 2);
  Check(first.FmtSecPerClus == 0 || first.FmtSecPerClus == 512 || first.FmtSecPerClus == 4096 ||
        first.FmtSecPerClus == 32768);

  Check(station::SaveSettingsToIni("saved.ini", first, firstOptions) == 1);
  station::SettingsBlock second = station::ZeroedSettingsBlock();
  station::StationOptions secondOptions;
  station::LoadSettings("saved.ini", second, secondOptions);
  CheckRoundTrip(station::SettingsKeys(), first, firstOptions, second, secondOptions);
}

// The same file as the second program reads it (no library bound: the
// time-out stays with the station).
void FuzzSdkLoad() {
  sdkstation::SdkSettingsBlock first = sdkstation::ZeroedSdkSettingsBlock();
  sdkstation::StationOptions firstOptions;
  const sdkstation::SdkLoadResult r = sdkstation::LoadSettings("Kestrova.ini", first, firstOptions);
  Check(r.settingsRead == 1);
  Check(first.RWDataSize != 0 && firstOptions.MPAutorun >= 0);
  Check(first.DiskFormat >= 0 && first.DiskFormat <= 2);
  Check(first.FmtSecPerClus == 0 || first.FmtSecPerClus == 512 || first.FmtSecPerClus == 4096 ||
        first.FmtSecPerClus == 32768);
  Check(first.SCSITimeout >= 0 && firstOptions.SCSITimeout == first.SCSITimeout);
  for (const uint8_t flag : {first.nPartitionTblFmt, first.UpdateVID, first.UpdatePID, first.UpdateManufString,
                             first.UpdateUSBProdString, first.UpdateDeviceString, first.MapToHDName,
                             first.String3Inc, first.StrBFromHDSN, first.EnSNfromHDDSN, first.SupportODD,
                             first.CheckMaxSn})
    Check(flag <= 1);

  Check(sdkstation::SaveSettingsToIni("saved.ini", first, firstOptions) == 1);
  sdkstation::SdkSettingsBlock second = sdkstation::ZeroedSdkSettingsBlock();
  sdkstation::StationOptions secondOptions;
  sdkstation::LoadSettings("saved.ini", second, secondOptions);
  CheckRoundTrip(sdkstation::SettingsKeys(), first, firstOptions, second, secondOptions);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentSink sink;
  static const Folder folder;
  static platform::ScopedProgramFolder programFolder(folder.path);
  platform::SetMessageBoxSink(&sink);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FuzzReader(text);
  FuzzLoad(folder.path, text);
  FuzzSdkLoad();
  return 0;
}
