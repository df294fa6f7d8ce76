#include "platform/module.h"

#include <strings.h>

#include <mutex>
#include <string>

#include "platform/backend.h"
#include "platform/device_io.h"

namespace platform {

struct ModuleObject {
  struct Entry {
    const char* name;
    Proc proc;
  };
  const char* name;
  Entry entries[2];
  int uses = 0;  // guarded by the table's mutex
};

namespace {

void FormatExEntry(const char16_t* driveRoot, uint32_t mediaType, const char16_t* fileSystemName,
                   const char16_t* label, int quickFormat, uint32_t clusterSize,
                   FmifsCallback callback) {
  CurrentBackend().FormatEx(driveRoot, mediaType, fileSystemName, label, quickFormat != 0,
                            clusterSize, callback);
}

uint8_t EnableVolumeCompressionEntry(const char16_t*, uint16_t) {
  return 0;  // no file system on the bench compresses
}

// The modules the platform provides; loading one is counting its uses.
struct Table {
  std::mutex mutex;
  ModuleObject fmifs{"fmifs.dll",
                     {{"FormatEx", reinterpret_cast<Proc>(&FormatExEntry)},
                      {"EnableVolumeCompression", reinterpret_cast<Proc>(&EnableVolumeCompressionEntry)}}};
};

Table& Modules() {
  static Table table;
  return table;
}

// The module a name means (case does not matter, a ".dll" may be left off).
ModuleObject* Known(const char* name) {
  if (name == nullptr) return nullptr;
  std::string n = name;
  const size_t slash = n.find_last_of("\\/");
  if (slash != std::string::npos) n = n.substr(slash + 1);
  if (n.find('.') == std::string::npos) n += ".dll";
  ModuleObject& fmifs = Modules().fmifs;
  return ::strcasecmp(n.c_str(), fmifs.name) == 0 ? &fmifs : nullptr;
}

}  // namespace

Module GetModuleHandle(const char* name) {
  ModuleObject* m = Known(name);
  std::lock_guard lock(Modules().mutex);
  if (m == nullptr || m->uses == 0) {
    SetLastError(kErrorModNotFound);
    return nullptr;
  }
  SetLastError(kErrorSuccess);
  return m;
}

Module LoadLibrary(const char* name) {
  ModuleObject* m = Known(name);
  if (m == nullptr || !CurrentBackend().HasModule(m->name, nullptr)) {
    SetLastError(kErrorModNotFound);
    return nullptr;
  }
  std::lock_guard lock(Modules().mutex);
  ++m->uses;
  SetLastError(kErrorSuccess);
  return m;
}

Proc GetProcAddress(Module module, const char* name) {
  if (module == nullptr || name == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  for (const auto& entry : module->entries) {
    if (std::string(entry.name) == name && CurrentBackend().HasModule(module->name, name)) {
      SetLastError(kErrorSuccess);
      return entry.proc;
    }
  }
  SetLastError(kErrorProcNotFound);
  return nullptr;
}

bool FreeLibrary(Module module) {
  if (module == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  std::lock_guard lock(Modules().mutex);
  if (module->uses == 0) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  --module->uses;
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace platform
