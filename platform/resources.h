// Program resources: named, typed blobs built into the program's own file
// (the manufacturing firmware images of kind "FW"). Read-only for the life of
// the process, so any thread may look them up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

struct ResourceEntry {
  const char* name;
  const char* kind;
  const unsigned char* data;
  size_t size;
};

struct ResourceData {
  const uint8_t* data = nullptr;  // null when the program has no such resource
  size_t size = 0;
};

// The resource `name` of `kind` (both compared exactly); empty when missing.
ResourceData FindResource(const char* name, const char* kind);

// Every resource of the program; defined by the generated resource source.
std::span<const ResourceEntry> ProgramResources();

}  // namespace platform
