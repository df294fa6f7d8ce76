// The read/write speed test of a product's volume: a test file written and
// read back unbuffered in 32 MB chunks on the station clock, its first 64 KB
// compared, and the file removed again.
#pragma once

#include <cstdint>
#include <span>

#include "bridge/firmware_file_check.h"

namespace station {

inline constexpr uint32_t kReadWriteChunkSize = 0x2000000;  // 32 MB
inline constexpr uint32_t kReadWriteChunkMB = 32;
inline constexpr int32_t kMaxReadWriteTestMB = 65535;
inline constexpr uint32_t kReadWriteCompareSize = 64 * 1024;
inline constexpr int kDeleteAttempts = 102;
inline constexpr uint32_t kDeletePauseMs = 200;

// The test size in MB for a requested size: rounded up to whole 32 MB
// chunks, 0 counting as one chunk; 0 for a request below 0 or above 65535.
[[nodiscard]] uint32_t ReadWriteTestSizeMB(int32_t requestedMB);

// Runs the test on drive `driveLetter` with ReadWriteTestSizeMB(sizeMB) of
// the 64 KB `pattern` repeated. 1 when every chunk was written and read in
// full, the first 64 KB read back equal those written and the test file is
// gone again; 0 otherwise (with the system's message for an allocation,
// open or deletion failure). The speeds in MB/s are stored whenever the
// test got as far as writing; a size out of range touches no file.
[[nodiscard]] int RunReadWriteSpeedTest(char driveLetter, int32_t sizeMB,
                                        std::span<const uint8_t, bridge::kHexPageSize> pattern,
                                        float* readSpeed, float* writeSpeed);

}  // namespace station
