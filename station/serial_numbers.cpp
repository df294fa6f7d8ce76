#include "station/serial_numbers.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace station {
namespace {

// The text after its leading zeros, up to its end.
std::string_view Significant(std::span<const char> text) {
  std::string_view line(text.data(), LineLength(text));
  const size_t first = line.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view() : line.substr(first);
}

}  // namespace

size_t LineLength(std::span<const char> text) {
  size_t n = 0;
  while (n < text.size() && text[n] != '\0' && text[n] != '\n') ++n;
  return n;
}

void IncrementHexSerial(std::span<char> text) {
  for (size_t i = LineLength(text); i-- > 0;) {
    char& c = text[i];
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c == 'F') {
      c = '0';
      continue;
    }
    if ((c >= '0' && c <= '8') || (c >= 'A' && c <= 'E')) ++c;
    else if (c == '9') c = 'A';
    else c = '0';
    return;
  }
}

bool IsLastHexSerial(std::string_view text) {
  const std::string_view line = text.substr(0, LineLength(text));
  return !line.empty() && std::all_of(line.begin(), line.end(), [](char c) { return c == 'F' || c == 'f'; });
}

size_t StripLeadingZeros(std::span<const char> text, std::span<char> target) {
  std::fill(target.begin(), target.end(), '\0');
  const std::string_view digits = Significant(text);
  const size_t n = std::min(digits.size(), target.size());
  std::memcpy(target.data(), digits.data(), n);
  return n;
}

int CompareSerial(std::string_view a, std::string_view b) {
  const std::string_view x = Significant(std::span(a.data(), a.size()));
  const std::string_view y = Significant(std::span(b.data(), b.size()));
  if (x.size() != y.size()) return x.size() > y.size() ? 1 : -1;
  // As 8-bit text: compare the bytes unsigned.
  for (size_t i = 0; i < x.size(); ++i) {
    const auto p = static_cast<unsigned char>(x[i]), q = static_cast<unsigned char>(y[i]);
    if (p != q) return p < q ? -1 : 1;
  }
  return 0;
}

}  // namespace station
