#include "platform/text.h"

#include <algorithm>

namespace platform {

// Latin-1 is the first 256 code points; anything else (a surrogate pair
// counting as one character) has no mapping and becomes '?'.
std::string WideToAnsi(const char16_t* text, size_t length) {
  std::string out;
  if (text == nullptr) return out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      ++i;
    out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  }
  return out;
}

std::string WideToAnsi(const std::u16string& text) { return WideToAnsi(text.data(), text.size()); }

std::u16string AnsiToWide(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

namespace {

// ASCII only, whatever the C locale says (and without its lookups: paths
// are folded on every command).
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

}  // namespace

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::string_view FolderPart(std::string_view path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string_view::npos ? std::string_view() : path.substr(0, cut + 1);
}

}  // namespace platform
