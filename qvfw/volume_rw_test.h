// The library's read/write test of a product volume: a file of the asked
// size written unbuffered, read back and compared in full; speeds measured
// on the station clock.
#pragma once

#include <cstdint>

namespace qvfw {

inline constexpr uint32_t kPatternSize = 64 * 1024;
inline constexpr uint32_t kRwChunkSize = 4 * 1024 * 1024;
inline constexpr uint32_t kMaxRwTestMB = 64 * 1024;
inline constexpr char kRwTestFileName[] = "qvrwtest.bin";

// `pattern`: kPatternSize bytes repeated, or null for a counting pattern.
// 1 when every byte came back as written; the file is removed in any case.
[[nodiscard]] int RunVolumeRwTest(char driveLetter, uint32_t sizeMB, const uint8_t* pattern, float* readMBs,
                    float* writeMBs);

}  // namespace qvfw
