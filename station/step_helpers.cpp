#include "station/step_helpers.h"

#include <climits>

namespace station {

int IndexOfValue(const int32_t* values, int32_t count, int32_t value) {
  if (values == nullptr) return -1;
  for (int32_t i = 0; i < count; ++i)
    if (values[i] == value) return i;
  return -1;
}

int32_t CheckSectorSize(int32_t fileSystem, int32_t size) {
  if (fileSystem == kFileSystemFat32) return 0;
  return (size == 512 || size == 4096 || size == 32768) ? size : 0;
}

int IsNullText(std::string_view text) { return text.empty() || text == kNullText ? 1 : 0; }

int IsStringUnset(std::string_view text, int32_t position,
                  std::span<const uint8_t, kOptionBlockSize> optionBlock) {
  if (IsNullText(text)) return 1;
  return position >= 0 && static_cast<size_t>(position) < optionBlock.size() &&
                 optionBlock[static_cast<size_t>(position)] == kOptionStringUnset
             ? 1
             : 0;
}

int AbsValue(int value) {
  if (value == INT_MIN) return INT_MAX;
  return value < 0 ? -value : value;
}

}  // namespace station
