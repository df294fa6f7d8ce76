// Wide (UTF-16) to 8-bit text in the station's code page (Latin-1): a
// character outside it becomes '?', as the system's conversion does.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

std::string WideToAnsi(const char16_t* text, size_t length);
std::string WideToAnsi(const std::u16string& text);
std::u16string AnsiToWide(const std::string& text);

}  // namespace platform
