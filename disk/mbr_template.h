// The master boot record the legacy layout writes to sector 0: a small boot
// stub that reports a disk without an operating system, the offsets of its
// three texts, the disk signature, an empty partition table and the end mark.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace disk {

inline constexpr size_t kMbrSize = 512;
inline constexpr size_t kMbrTextOffsetsAt = 0x1B5;
inline constexpr size_t kMbrSignatureAt = 0x1B8;
inline constexpr size_t kMbrPartitionTableAt = 0x1BE;
inline constexpr size_t kMbrEndMarkAt = 0x1FE;

struct MbrText {
  size_t offset;
  const char* text;
};
inline constexpr MbrText kMbrTexts[] = {
    {0x12C, "Invalid partition table"},
    {0x144, "Error loading operating system"},
    {0x163, "Missing operating system"},
};
inline constexpr uint8_t kMbrDiskSignature[4] = {0x49, 0x2E, 0x73, 0xB1};

// Real-mode stub loaded at 0000:7C00: sets up the stack, takes the offset
// byte of "Missing operating system" from 0x1B7, prints the text through the
// video BIOS and halts.
inline constexpr uint8_t kMbrBootStub[] = {
    0xFA,                    // cli
    0x31, 0xC0,              // xor ax, ax
    0x8E, 0xD0,              // mov ss, ax
    0xBC, 0x00, 0x7C,        // mov sp, 0x7C00
    0x8E, 0xD8,              // mov ds, ax
    0xFB,                    // sti
    0xA0, 0xB7, 0x7D,        // mov al, [0x7DB7]
    0xB4, 0x7D,              // mov ah, 0x7D
    0x89, 0xC6,              // mov si, ax
    0xAC,                    // next: lodsb
    0x84, 0xC0,              // test al, al
    0x74, 0x09,              // jz stop
    0xB4, 0x0E,              // mov ah, 0x0E
    0xBB, 0x07, 0x00,        // mov bx, 0x0007
    0xCD, 0x10,              // int 0x10
    0xEB, 0xF2,              // jmp next
    0xF4,                    // stop: hlt
    0xEB, 0xFD,              // jmp stop
};

constexpr std::array<uint8_t, kMbrSize> MakeMbrTemplate() {
  std::array<uint8_t, kMbrSize> mbr = {};
  for (size_t i = 0; i < sizeof(kMbrBootStub); ++i) mbr[i] = kMbrBootStub[i];
  for (size_t t = 0; t < std::size(kMbrTexts); ++t) {
    size_t at = kMbrTexts[t].offset;
    for (const char* c = kMbrTexts[t].text; *c != '\0'; ++c) mbr[at++] = static_cast<uint8_t>(*c);
    mbr[at] = 0;
    mbr[kMbrTextOffsetsAt + t] = static_cast<uint8_t>(kMbrTexts[t].offset - 0x100);
  }
  for (size_t i = 0; i < 4; ++i) mbr[kMbrSignatureAt + i] = kMbrDiskSignature[i];
  mbr[kMbrEndMarkAt] = 0x55;
  mbr[kMbrEndMarkAt + 1] = 0xAA;
  return mbr;
}

inline constexpr std::array<uint8_t, kMbrSize> kMbrTemplate = MakeMbrTemplate();

}  // namespace disk
