// Wide (UTF-16) to 8-bit text in the station's code page (Latin-1): a
// character outside it becomes '?', as the system's conversion does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

std::string WideToAnsi(const char16_t* text, size_t length);
std::string WideToAnsi(const std::u16string& text);
std::u16string AnsiToWide(const std::string& text);

// ASCII case folding: the system compares names, paths and ids without case.
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);
[[nodiscard]] bool EqualNoCase(std::string_view a, std::string_view b);

// The text without the blanks and control characters (NUL included) at
// either end, as fixed-width device fields are read.
std::string_view TrimBlanks(std::string_view text);

// The folder part of a path, with its last separator ('\\' or '/'); empty
// when the path names no folder.
std::string_view FolderPart(std::string_view path);

}  // namespace platform
