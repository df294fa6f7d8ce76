#include "station/step_helpers.h"

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

}  // namespace station
