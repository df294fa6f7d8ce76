// Questions the device list and the port worker ask a product: the running
// firmware version and whether it is an accepted product firmware, the
// drive's INQUIRY name and firmware revision, and the USB 3.0 check's
// register operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bridge/chip_identification.h"

namespace bridge {

// The firmware version text field of a port record.
inline constexpr size_t kFirmwareVersionSize = 18;

// Formats the version of the chip-information block for the ChipType,
// cut to the field. 1 when the block was read; the text is empty unless the
// block starts F4 E7.
[[nodiscard]] int FormatFirmwareVersion(ChipType chipType, const char* devicePath,
                                        char (&text)[kFirmwareVersionSize]);

// 1 when the running firmware is an accepted product firmware for the
// ChipType; `versionText` is what FormatFirmwareVersion gave.
[[nodiscard]] int CheckFirmwareVersion(const char* devicePath, ChipType chipType,
                                       const char* versionText);

// 1 when INQUIRY answers and its vendor and product fields, trailing blanks
// removed and joined by one space, equal `expected`.
[[nodiscard]] int InquiryMatches(const char* devicePath, const char* expected);

// 1 when IDENTIFY answers and `expected` begins with the drive's firmware
// revision (words 23-26).
[[nodiscard]] int CheckDiskFirmwareRevision(const char* devicePath, const char* expected,
                                            int useSat);

// Copies `length` bytes of IDENTIFY data from `offset`, swapping each byte
// pair, and ends the text after its last non-space character. `out` holds
// length + 1 bytes; a field beyond the 512 bytes gives an empty text.
void CopyIdentifyString(const uint8_t* identify, char* out, size_t offset, size_t length);

// Sets bit 4 of the first byte of registers 0x5000 and 0x5008 (4 bytes
// each, read, changed, written back). 1 when all four commands succeed; a
// register whose read fails is not written.
[[nodiscard]] int SetRegister5000Bit4(const char* devicePath);
// 1 when a 4-byte read of register 0x5008 succeeds.
[[nodiscard]] int ReadRegister5008(const char* devicePath);

// Which flash bank the bridge runs from: register 0x506A is read, written 0
// and read again; 1 when the second read gives exactly 1. The register is
// always left holding the byte first read (nothing is written when that
// read fails).
[[nodiscard]] int ProbeBankSelectBit(const char* devicePath);

// The four characters after "vid" (or "pid") and one separator in a device
// id, letters of the key compared without case: "USB\VID_6A3E&PID_..."
// gives "6A3E". 1 and a NUL-terminated text when four characters follow the
// first occurrence; 0 and `out` untouched otherwise.
[[nodiscard]] int ParseVid(const char* deviceId, char (&out)[5]);
[[nodiscard]] int ParsePid(const char* deviceId, char (&out)[5]);

}  // namespace bridge
