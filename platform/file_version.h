// The version resource of a program file: a block that the build places in
// the file, a key followed by the fixed file information with its version
// numbers. Read as the system reads it: the size of the block, the block,
// then its root value "\".
#pragma once

#include <cstdint>

namespace platform {

inline constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
inline constexpr uint32_t kFixedFileInfoStructVersion = 0x00010000;

struct FixedFileInfo {
  uint32_t signature = kFixedFileInfoSignature;
  uint32_t structVersion = kFixedFileInfoStructVersion;
  uint32_t fileVersionMS = 0;  // major << 16 | minor
  uint32_t fileVersionLS = 0;  // release << 16 | build
  uint32_t productVersionMS = 0;
  uint32_t productVersionLS = 0;
  uint32_t fileFlagsMask = 0;
  uint32_t fileFlags = 0;
  uint32_t fileOs = 0;
  uint32_t fileType = 0;
  uint32_t fileSubtype = 0;
  uint32_t fileDateMS = 0;
  uint32_t fileDateLS = 0;
};

// The block as it sits in the file.
inline constexpr char kVersionResourceKey[16] = "VS_VERSION_INFO";
struct VersionResource {
  char key[16] = {};
  FixedFileInfo fixed;
};
static_assert(sizeof(VersionResource) == 16 + 13 * 4);

constexpr VersionResource MakeVersionResource(uint16_t major, uint16_t minor, uint16_t release, uint16_t build) {
  VersionResource resource;
  for (int i = 0; i < 16; ++i) resource.key[i] = kVersionResourceKey[i];
  resource.fixed.fileVersionMS = uint32_t{major} << 16 | minor;
  resource.fixed.fileVersionLS = uint32_t{release} << 16 | build;
  resource.fixed.productVersionMS = resource.fixed.fileVersionMS;
  resource.fixed.productVersionLS = resource.fixed.fileVersionLS;
  resource.fixed.fileType = 1;  // an application
  return resource;
}

// The size of the file's version block; 0 when the file cannot be read or
// holds none.
uint32_t GetFileVersionInfoSize(const char* path);
// Copies the block (at most `size` bytes) into `data`; false as above or
// when `size` is too small.
bool GetFileVersionInfo(const char* path, uint32_t size, void* data);
// "\" of a block: its fixed file information. False for any other name or a
// block that does not carry it.
bool VerQueryValue(const void* block, const char* subBlock, const FixedFileInfo** value, uint32_t* length);

}  // namespace platform
