#include "platform/resources.h"

#include <cstring>

namespace platform {

ResourceData FindResource(const char* name, const char* kind) {
  if (name == nullptr || kind == nullptr) return {};
  for (const ResourceEntry& entry : ProgramResources()) {
    if (std::strcmp(entry.name, name) == 0 && std::strcmp(entry.kind, kind) == 0)
      return {entry.data, entry.size};
  }
  return {};
}

}  // namespace platform
