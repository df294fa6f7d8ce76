// Whether a firmware file was built for the bridge on a port (its model tag
// against the ChipType and silicon revision), and the reader of the ASCII-hex
// read/write test pattern.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bridge/port_table.h"

namespace bridge {

inline constexpr size_t kFirmwareTagSize = 10;
inline constexpr uint8_t kFirmwareSignature[4] = {0x55, 0xAA, 0xAA, 0x55};
// Where the header group looks for a second tag.
inline constexpr long kSecondTagOffset = 0x1000;

// File offset of the model tag for a ChipType.
constexpr long FirmwareTagOffset(unsigned chipType) {
  if (chipType == 7 || chipType == 18) return 0x4000;
  if (chipType == 19 || chipType == 20) return 0xBFF0;
  return 0;
}

// The tag text of a tag record as the ChipType reads it.
inline constexpr size_t kMaxTagTextSize = 4;
struct TagText {
  char text[kMaxTagTextSize + 1] = {};
  size_t size = 0;
};
TagText FirmwareTagText(const uint8_t (&tag)[kFirmwareTagSize], unsigned chipType);

// ChipType 26, revision 2: the QVS884 A1 file must fit the layout the bridge
// on the first present ChipType 26 port reports. Part of CheckFirmwareFile,
// apart so the rule can be tested on its own.
inline constexpr uint64_t kLargeLayoutMinFileLength = 67072;  // longer than 67071
inline constexpr uint64_t kSmallLayoutMaxFileLength = 0xC600;
[[nodiscard]] int Qvs884A1FileFits(uint64_t fileLength, const PortTable& ports);

// 1 when the firmware file fits the bridge. `identification` is the word of
// IdentifyChipTypeAndRevision (ChipType low, revision high). A file that
// cannot be opened shows "Open Firmware File Error!!" (caption "Error").
[[nodiscard]] int CheckFirmwareFile(const char* firmwarePath, uint16_t identification,
                                    const PortTable& ports);

// The read/write test pattern: letters and digits of an ASCII text, two to a
// byte, high nibble first (a digit its value, a letter upper-cased code - 55);
// every other byte of the file is skipped. Page n starts after n full pages.
// Returns the bytes stored in `page` (kHexPageSize for a full page), 0 when
// the file cannot be opened or is no regular file.
inline constexpr size_t kHexPageSize = 65536;
[[nodiscard]] size_t ReadHexDataPage(const char* textPath, uint8_t* page, unsigned pageNumber);

}  // namespace bridge
