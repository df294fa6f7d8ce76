// INI files with the private-profile semantics the station's files were
// written with, so that files written by either program, or edited by hand,
// read the same here:
//  - section and key names match without regard to (ASCII) case; the first
//    section of a name and its first key of a name count;
//  - a value is the text after the first '=', blanks (space, tab) trimmed,
//    one pair of enclosing quotes (single or double) removed, at most
//    kMaxValueLength characters, ending at a NUL;
//  - integers are decimal with an optional sign, or hexadecimal after "0x"
//    or "0X" when the text is longer than two characters (eight digits at
//    most, taken as 32-bit two's complement); a missing, empty or
//    malformed value gives the caller's default;
//  - floats are C-locale decimal numbers, written "%.15g"; booleans are
//    written "1"/"0";
//  - a missing text gives its default; an empty one is "".
// A line ends at LF, CR LF, CR CR LF or a lone CR. A UTF-8 byte-order mark
// at the start of the file is not part of the first line.
// Writing replaces an existing key's line in place, adds a new key after the
// last key of its section and a new section at the end of the file; every
// other line, its line end included, and the byte-order mark stay byte for
// byte. Written lines end in CRLF. CR, LF and NUL end a written value, so no
// value can add lines.
// The document lives in memory; Flush() writes it out as a whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace platform {

inline constexpr size_t kMaxValueLength = 2047;
// No settings or yield file comes near it; a bigger one is not read.
inline constexpr size_t kMaxProfileFileSize = 1 << 20;

// The integer a profile value stands for, if any.
std::optional<int32_t> ParseProfileInteger(std::string_view text);
// The finite float a profile value stands for, if any.
std::optional<double> ParseProfileFloat(std::string_view text);
// "%.15g" in the C locale whatever the process locale is.
std::string FormatProfileFloat(double value);

// True when the file exists and may not be written: no write bit in its mode
// (so a root process, which passes every permission test, still honours
// it) or no write access for this process.
[[nodiscard]] bool IsReadOnlyFile(const std::string& path);

class IniFile {
 public:
  // Reads the file; a missing or unreadable file gives an empty document,
  // as does one that is not a regular file (a pipe is never waited on) or
  // is larger than kMaxProfileFileSize. readResult() tells which.
  explicit IniFile(std::string path);
  // A document from text, bound to no file (Flush() fails).
  static IniFile FromText(std::string_view text);

  const std::string& path() const { return path_; }
  FileRead readResult() const { return read_; }

  // The value as described above, or nothing when the key is missing.
  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;
  [[nodiscard]] bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  double ReadFloat(std::string_view section, std::string_view key, double fallback) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int64_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  void WriteFloat(std::string_view section, std::string_view key, double value);

  // The document's bytes as Flush() would write them.
  std::string Text() const;

  // Writes the document to path() through a temporary file beside it,
  // synced, then renamed over it, and the folder synced: a crash or a full
  // disk leaves the old file or the new one whole. An existing file keeps
  // its mode and is never replaced when it is read only, not a regular
  // file, or was not read whole. False when nothing could be written.
  [[nodiscard]] bool Flush() const;

 private:
  enum class Kind : uint8_t { kOther, kSection, kKey };
  struct Line {
    std::string text;  // without its line end
    std::string eol;   // "\n", "\r\n", "\r\r\n", "\r" or "" (last line without one)
    Kind kind = Kind::kOther;
    std::string name;       // section or key name, trimmed
    size_t valueStart = 0;  // key lines: offset just after the '='
  };

  IniFile() = default;
  void Parse(std::string_view text);
  static Line MakeLine(std::string text, std::string eol);
  // Index of the first section header of that name, or npos.
  [[nodiscard]] size_t FindSection(std::string_view section) const;
  // End (exclusive) of the section whose header is at `header`.
  [[nodiscard]] size_t SectionEnd(size_t header) const;
  [[nodiscard]] size_t FindKey(size_t header, std::string_view key) const;

  std::string path_;
  FileRead read_ = FileRead::kMissing;
  std::string mark_;  // the byte-order mark the file began with, if any
  std::vector<Line> lines_;
};

}  // namespace platform
