#include "platform/module.h"

#include <dlfcn.h>
#include <strings.h>

#include <cstdio>
#include <list>
#include <mutex>
#include <string>

#include "platform/backend.h"
#include "platform/device_io.h"
#include "platform/files.h"
#include "platform/program_folder.h"

namespace platform {

struct ModuleObject {
  struct Entry {
    const char* name;
    Proc proc;
  };
  std::string name;
  Entry entries[2] = {};
  bool isShared = false;   // a shared object of the program folder, not one of the platform's own
  void* shared = nullptr;  // its handle while loaded; guarded by the table's mutex
  int uses = 0;            // guarded by the table's mutex
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

// The modules the platform provides (loading one is counting its uses) and
// the shared objects loaded from the program folder. A shared object's
// record outlives its last release, so a stale handle is refused rather
// than followed.
struct Table {
  std::mutex mutex;
  ModuleObject fmifs{"fmifs.dll",
                     {{"FormatEx", reinterpret_cast<Proc>(&FormatExEntry)},
                      {"EnableVolumeCompression", reinterpret_cast<Proc>(&EnableVolumeCompressionEntry)}}};
  std::list<ModuleObject> shared;  // by file path; nodes never move
};

Table& Modules() {
  static Table table;
  return table;
}

// What a module name means: one of the platform's own modules (case does not
// matter, a ".dll" may be left off, a folder is ignored), or else the file
// "<program folder>/<name without .dll>.so". Only a bare name is looked for,
// and only in the program folder: never in the working directory.
struct Resolved {
  ModuleObject* own = nullptr;
  std::string file;  // empty: no such module
};

Resolved Resolve(const char* name) {
  Resolved r;
  if (name == nullptr || *name == '\0') return r;
  std::string n = name;
  const size_t slash = n.find_last_of("\\/");
  std::string base = slash == std::string::npos ? n : n.substr(slash + 1);
  std::string withDll = base.find('.') == std::string::npos ? base + ".dll" : base;
  ModuleObject& fmifs = Modules().fmifs;
  if (::strcasecmp(withDll.c_str(), fmifs.name.c_str()) == 0) {
    r.own = &fmifs;
    return r;
  }
  if (slash != std::string::npos || base == "." || base == "..") return r;
  if (base.size() > 4 && ::strcasecmp(base.c_str() + base.size() - 4, ".dll") == 0) {
    base.resize(base.size() - 4);
  }
  if (base.empty()) return r;
  r.file = ResolveInProgramFolder(base + ".so");
  return r;
}

ModuleObject* FindShared(Table& t, const std::string& file) {
  for (ModuleObject& m : t.shared) {
    if (m.name == file) return &m;
  }
  return nullptr;
}

}  // namespace

Module GetModuleHandle(const char* name) {
  const Resolved r = Resolve(name);
  Table& t = Modules();
  std::lock_guard lock(t.mutex);
  ModuleObject* m = r.own != nullptr ? r.own : r.file.empty() ? nullptr : FindShared(t, r.file);
  if (m == nullptr || m->uses == 0) {
    SetLastError(kErrorModNotFound);
    return nullptr;
  }
  SetLastError(kErrorSuccess);
  return m;
}

Module LoadLibrary(const char* name) {
  const Resolved r = Resolve(name);
  Table& t = Modules();
  if (r.own != nullptr) {
    if (!CurrentBackend().HasModule(r.own->name.c_str(), nullptr)) {
      SetLastError(kErrorModNotFound);
      return nullptr;
    }
    std::lock_guard lock(t.mutex);
    ++r.own->uses;
    SetLastError(kErrorSuccess);
    return r.own;
  }
  if (r.file.empty()) {
    SetLastError(kErrorModNotFound);
    return nullptr;
  }
  std::lock_guard lock(t.mutex);
  ModuleObject* m = FindShared(t, r.file);
  if (m != nullptr && m->uses > 0) {
    ++m->uses;
    SetLastError(kErrorSuccess);
    return m;
  }
  // A missing file and a file that is no shared object are both "not
  // found", and so is what is no regular file: the loader would wait on a
  // pipe for a writer for ever. The check's handle is not what is loaded:
  // by its own name the module keeps that name in traces and stack dumps.
  std::FILE* regular = OpenRegularFileForReading(r.file.c_str());
  if (regular == nullptr) {
    SetLastError(kErrorModNotFound);
    return nullptr;
  }
  std::fclose(regular);
  void* handle = ::dlopen(r.file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    SetLastError(kErrorModNotFound);
    return nullptr;
  }
  if (m == nullptr) m = &t.shared.emplace_back();
  m->name = r.file;
  m->isShared = true;
  m->shared = handle;
  m->uses = 1;
  SetLastError(kErrorSuccess);
  return m;
}

Proc GetProcAddress(Module module, const char* name) {
  if (module == nullptr || name == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (module->isShared) {
    std::lock_guard lock(Modules().mutex);
    void* symbol = module->uses > 0 ? ::dlsym(module->shared, name) : nullptr;
    if (symbol == nullptr) {
      SetLastError(module->uses > 0 ? kErrorProcNotFound : kErrorInvalidHandle);
      return nullptr;
    }
    SetLastError(kErrorSuccess);
    return reinterpret_cast<Proc>(symbol);
  }
  for (const auto& entry : module->entries) {
    if (std::string(entry.name) == name && CurrentBackend().HasModule(module->name.c_str(), name)) {
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
  if (--module->uses == 0 && module->shared != nullptr) {
    ::dlclose(module->shared);
    module->shared = nullptr;
  }
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace platform
