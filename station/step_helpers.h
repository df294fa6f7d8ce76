// Small helpers that the pass, the worker, the device list refresh and the
// settings reader share.
#pragma once

#include <cstdint>

namespace station {

// File-system choices of the format step.
inline constexpr int32_t kFileSystemNtfs = 0;
inline constexpr int32_t kFileSystemFat32 = 1;
inline constexpr int32_t kFileSystemExfat = 2;

// Index of the first entry of values[0..count) equal to value, -1 when none.
int IndexOfValue(const int32_t* values, int32_t count, int32_t value);

// The cluster size when it is one the format routes offer (512, 4096 or
// 32768) and the file system is not FAT32 (whose formatter chooses its
// own), else 0, the default.
int32_t CheckSectorSize(int32_t fileSystem, int32_t size);

}  // namespace station
