// The "FW Check": the flash of a bridge compared with the chosen firmware
// file through the family's own read path, fixed ranges skipped (header and
// configuration areas, bank checksums). 1 for a match, 0 for any difference
// or failure; no message.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace bridge {

struct ByteRange {
  uint32_t first;
  uint32_t last;  // inclusive
};

// What one verifier compares: file and device bytes 0..compareEnd-1 (0: the
// whole file) less the skipped ranges, after the file proved at least
// minFile bytes long. bufferSize bounds what is read of the file.
struct VerifyLayout {
  const char* name;
  uint32_t minFile;
  uint32_t maxFile;  // 0: no limit
  uint32_t bufferSize;
  uint32_t compareStart;
  uint32_t compareEnd;
  std::array<ByteRange, 4> skips;
  size_t skipCount;
};

inline constexpr VerifyLayout kVerifyFlash32K = {"32K", 0x8000, 0, 0x8000, 0, 0x8000, {}, 0};
// Any length: its buffer is the file's own length, at most 16 MB.
inline constexpr VerifyLayout kVerifyOtherFamily = {"other", 1, 0x1000000, 0, 0, 0, {}, 0};
// The configuration area and option bytes (0..0x8F) are not compared; a file
// that ends inside them would compare nothing, and one over 64 KB does not
// fit the buffers.
inline constexpr VerifyLayout kVerifySkipHeader = {"skip header", 0x91, 0x10000, 0x10000, 0x90, 0, {}, 0};
inline constexpr VerifyLayout kVerifyWithCrc = {"crc", 0xC000, 0, 0xC000, 0, 0xBFFE, {}, 0};
inline constexpr VerifyLayout kVerifyQvs87xSingle = {
    "QVS87x one bank", 0x40000, 0, 0x40000, 0, 0x20000, {{{0x200, 0x9FF}, {0x1FFFC, 0x1FFFF}}}, 2};
inline constexpr VerifyLayout kVerifyQvs87xDual = {
    "QVS87x both banks", 0x40000, 0, 0x40000, 0, 0x40000,
    {{{0x200, 0x9FF}, {0x1FFFC, 0x1FFFF}, {0x20200, 0x209FF}, {0x3FFFC, 0x3FFFF}}}, 4};
inline constexpr VerifyLayout kVerifyQvs887 = {"QVS887", 0xC600, 0, 0xC600, 0, 0xC400, {{{0x200, 0x3FF}}}, 1};
inline constexpr VerifyLayout kVerifyQvs884 = {"QVS884", 0xC600, 0, 0xC600, 0, 0xC400, {{{0x200, 0x3FF}}}, 1};
// The large layout reads and compares 0x10600 bytes, so the file must hold them.
inline constexpr VerifyLayout kVerifyQvs884Large = {
    "QVS884 large", 0x10600, 0, 0x10600, 0, 0x10600, {{{0x200, 0x3FF}, {0xC400, 0xC5FF}}}, 2};
inline constexpr VerifyLayout kVerifyQvs891 = {"QVS891", 0x10600, 0, 0x10600, 0, 0x10400, {{{0x200, 0x3FF}}}, 1};
inline constexpr VerifyLayout kVerifyQvs894 = {"QVS894", 0x10600, 0, 0x10600, 0, 0x10400, {{{0x200, 0x3FF}}}, 1};

// 1 when file and device agree over the layout's compared bytes; `length` is
// the number of file bytes held (both buffers hold at least that many).
[[nodiscard]] int CompareWithLayout(const VerifyLayout& layout, const uint8_t* file,
                                    const uint8_t* device, uint32_t length);

// Length of an open file; its read position is kept.
[[nodiscard]] uint64_t GetFileLength(std::FILE* file);

// Which reader VerifyFlashSkipHeader takes: the FF 04 reads of ChipType 9 or
// the 0xDF reads of ChipTypes 11-13.
enum class SkipHeaderReader { kFf04, kDf };

[[nodiscard]] int VerifyFlash32K(const char* devicePath, const char* firmwareFileName);
[[nodiscard]] int VerifyFlashOtherFamily(const char* devicePath, const char* firmwareFileName);
[[nodiscard]] int VerifyFlashSkipHeader(const char* devicePath, const char* firmwareFileName,
                                        SkipHeaderReader reader);
[[nodiscard]] int VerifyFlashWithCrc(const char* devicePath, const char* firmwareFileName);
// cloneProduct is the job's CLONE product setting (EnCloneProduct): both
// banks are read, in the order the clone mark in buffer 1 gives.
[[nodiscard]] int VerifyFirmwareQVS87x(const char* devicePath, const char* firmwareFileName,
                                       bool cloneProduct);
[[nodiscard]] int VerifyFirmwareQVS887(const char* devicePath, const char* firmwareFileName);
// revision 2 (A1) with status bit 0x10 uses the large layout.
[[nodiscard]] int VerifyFirmwareQVS884(const char* devicePath, const char* firmwareFileName,
                                       int revision);
[[nodiscard]] int VerifyFirmwareQVS891(const char* devicePath, const char* firmwareFileName);
[[nodiscard]] int VerifyFirmwareQVS894(const char* devicePath, const char* firmwareFileName);

// Dispatches on the ChipType; every type without a verifier gives 0.
[[nodiscard]] int VerifyFirmwareWithFile(const char* devicePath, const char* firmwareFileName,
                                         unsigned chipType, int revision, bool cloneProduct);

}  // namespace bridge
