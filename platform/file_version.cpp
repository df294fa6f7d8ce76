#include "platform/file_version.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace platform {
namespace {

// The first block in the file: the key followed at once by the signature of
// the fixed information (so the key text alone, as in this code, is none).
std::optional<VersionResource> FindVersionResource(const char* path) {
  if (path == nullptr) return std::nullopt;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uint8_t signature[4];
  for (int i = 0; i < 4; ++i) signature[i] = static_cast<uint8_t>(kFixedFileInfoSignature >> (8 * i));
  const std::string_view key(kVersionResourceKey, sizeof kVersionResourceKey);
  for (size_t at = bytes.find(key); at != std::string::npos; at = bytes.find(key, at + 1)) {
    if (bytes.size() - at < sizeof(VersionResource)) break;
    if (std::memcmp(bytes.data() + at + sizeof kVersionResourceKey, signature, sizeof signature) != 0) continue;
    VersionResource resource;
    std::memcpy(&resource, bytes.data() + at, sizeof resource);
    return resource;
  }
  return std::nullopt;
}

}  // namespace

uint32_t GetFileVersionInfoSize(const char* path) {
  return FindVersionResource(path) ? sizeof(VersionResource) : 0;
}

bool GetFileVersionInfo(const char* path, uint32_t size, void* data) {
  if (data == nullptr || size < sizeof(VersionResource)) return false;
  const std::optional<VersionResource> resource = FindVersionResource(path);
  if (!resource) return false;
  std::memcpy(data, &*resource, sizeof *resource);
  return true;
}

bool VerQueryValue(const void* block, const char* subBlock, const FixedFileInfo** value, uint32_t* length) {
  if (block == nullptr || subBlock == nullptr || std::strcmp(subBlock, "\\") != 0) return false;
  const auto* resource = static_cast<const VersionResource*>(block);
  if (resource->fixed.signature != kFixedFileInfoSignature) return false;
  if (value) *value = &resource->fixed;
  if (length) *length = sizeof(FixedFileInfo);
  return true;
}

}  // namespace platform
