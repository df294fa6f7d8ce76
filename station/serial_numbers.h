// The serial-number texts of the identity settings: hexadecimal texts that
// the pass advances from port to port and compares against the highest
// number the operator allows. A text ends at its first NUL or line feed, or
// at the end of its field.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace station {

// Characters before the first NUL or line feed.
size_t LineLength(std::span<const char> text);
inline size_t LineLength(std::string_view text) { return LineLength(std::span(text.data(), text.size())); }

// Advances the text by one, in place and upper-cased, from its last
// character: 'F' turns to '0' and carries; '0'-'8' and 'A'-'E' go up by
// one, '9' becomes 'A', any other character becomes '0' (no carry). All 'F's
// wrap to all '0's of the same length.
void IncrementHexSerial(std::span<char> text);
template <size_t N>
void IncrementHexSerial(char (&field)[N]) {
  IncrementHexSerial(std::span<char>(field, N));
}

// True when advancing the text would wrap it round to all '0's, onto
// numbers given out before: every character is 'F' (any case). The counter
// stops there as it stops at the highest number the operator allows.
[[nodiscard]] bool IsLastHexSerial(std::string_view text);

// Copies the text without its leading '0's into `target` (zeroed first, no
// terminator added, cut to the target) and returns the number copied.
size_t StripLeadingZeros(std::span<const char> text, std::span<char> target);

// 1 when `a` has more significant digits than `b`, -1 when fewer; equal
// lengths compare as 8-bit text (negative, 0, positive). The whole texts
// count, however long.
int CompareSerial(std::string_view a, std::string_view b);

}  // namespace station
