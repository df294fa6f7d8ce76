// Small helpers that the pass, the worker, the device list refresh and the
// settings reader share.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace station {

// File-system choices of the format step.
inline constexpr int32_t kFileSystemNtfs = 0;
inline constexpr int32_t kFileSystemFat32 = 1;
inline constexpr int32_t kFileSystemExfat = 2;

// The text the settings hold for a string that is not to be programmed.
inline constexpr std::string_view kNullText = "<<<< NULL >>>>";

// Option byte value that marks a string as not programmed.
inline constexpr uint8_t kOptionStringUnset = 2;

inline constexpr size_t kOptionBlockSize = 128;

// Index of the first entry of values[0..count) equal to value, -1 when none.
[[nodiscard]] int IndexOfValue(const int32_t* values, int32_t count, int32_t value);

// The cluster size when it is one the format routes offer (512, 4096 or
// 32768) and the file system is not FAT32 (whose formatter chooses its
// own), else 0, the default.
int32_t CheckSectorSize(int32_t fileSystem, int32_t size);

// 1 when the text is empty or the null marker.
[[nodiscard]] int IsNullText(std::string_view text);

// 1 when the text is null (IsNullText) or the option byte at `position`
// says the string is not programmed. A position outside the block has no
// option byte: only the text decides.
[[nodiscard]] int IsStringUnset(std::string_view text, int32_t position,
                                std::span<const uint8_t, kOptionBlockSize> optionBlock);

// |value|; the one value without a positive counterpart gives the largest int.
[[nodiscard]] int AbsValue(int value);

}  // namespace station
