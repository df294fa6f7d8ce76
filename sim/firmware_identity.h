// What a product firmware of ChipTypes 21-28 presents on the bus, read at
// power-on from what the station wrote, as a real bridge does:
//   QVS87x (21-24): the running 128 KB bank. Its option byte (0x600) names
//     the texts the firmware takes from the bank: bit 0 the INQUIRY vendor
//     (0x610, 8 bytes) and product (0x618, 16), bit 1 the USB manufacturer
//     (0x628) and product (0x648) string descriptors; the others stay the
//     firmware's own. The ids and the serial come from the identity record
//     (C3 30) once one was written.
//   1 KB families (25-28): the 256-byte configuration area in the flash
//     (0xD000; 0x11000 on 27 and 28; the CRC-sealed image families 19 and
//     20 keep the same page at 0xC000), in the layout these chips take: ids at
//     0 and 2 (little-endian), the string-index bytes of manufacturer,
//     product and serial at 6, 7, 8, and three 8-bit string descriptors at
//     12, 48 and 84; the area counts only with "QV" in its last two bytes.
//     An index byte names the descriptor its string comes from (0x0A the
//     one at 12, 0x0B the one at 48, 0x03 the one at 84); another value
//     leaves the firmware's own string. Bytes 200-223, when set (not
//     zero), are the disk string that stands in for the INQUIRY vendor (8)
//     and product (16).
// Anything missing, erased or malformed keeps the value of `fallback`.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/identity_image.h"

namespace sim {

inline constexpr uint32_t kConfigAreaSize = 256;

DeviceIdentity BankIdentity(std::span<const uint8_t> bank, const DeviceIdentity& fallback);

// `record` the 72 bytes of C3 30 (empty: none written), `vid` and `pid` the
// two values of its CDB; the serial is record bytes 52-71, blanks dropped.
DeviceIdentity RecordIdentity(const std::vector<uint8_t>& record, uint16_t vid, uint16_t pid,
                              const DeviceIdentity& fallback);

DeviceIdentity ConfigAreaIdentity(std::span<const uint8_t> area, const DeviceIdentity& fallback);

// The older families (ChipTypes 1-20) read a 128-byte configuration block
// at power-on, in the layout its default bytes mark, and only with "QV" in
// its bytes 126-127:
//   Type 1: a USB device descriptor at its start (12 01): ids at 8 and 10,
//     string-index bytes at 14, 15, 16, UTF-16 descriptors at 20 (0x0A) and
//     64 (0x0B); no serial-number descriptor.
//   Type 2: byte 125 0xB6: ids at 0 and 2, index bytes at 6, 7, 8, UTF-16
//     descriptors at 12 (0x0A), 52 (0x0B) and 96 (0x03).
//   Type 3: byte 125 0xC0 (0xB0 on ChipType 13, whose defaults take it): as
//     Type 2 with 8-bit descriptors at 12, 48, 84.
// Index bytes name descriptors as in the configuration area above.
DeviceIdentity ConfigBlockIdentity(std::span<const uint8_t> block, const DeviceIdentity& fallback);

// The area a 1 KB family product comes from the factory with: `identity`'s
// ids and USB strings (cut to 30 characters) in that layout, the rest 0.
void EncodeConfigArea(const DeviceIdentity& identity, std::span<uint8_t> area);

}  // namespace sim
