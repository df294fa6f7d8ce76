// Modules loaded by name (the libraries the station binds at run time) and
// their entry points. The format service "fmifs.dll" is one of the
// platform's own modules: its entries forward to the backend, which formats
// the volume (on the bench: its emulated volume). Any other bare name,
// with or without ".dll", is the shared object "<name>.so" in the program
// folder (never the working directory); a name with a folder is none.
#pragma once

#include <cstdint>

namespace platform {

struct ModuleObject;
using Module = ModuleObject*;
using Proc = void (*)();  // cast to the entry's own type before the call

// The module when it is loaded already; null otherwise (no load).
Module GetModuleHandle(const char* name);
// Loads (or counts one more use of) a module; null and the last error
// kErrorModNotFound when the system has none of that name, or the file is
// missing, no regular file (never waited on) or no shared object.
Module LoadLibrary(const char* name);
// Null and kErrorProcNotFound when the module has no such entry.
Proc GetProcAddress(Module module, const char* name);
// Gives back one use; the last gives the module back to the system.
[[nodiscard]] bool FreeLibrary(Module module);

inline constexpr uint32_t kErrorModNotFound = 126;
inline constexpr uint32_t kErrorProcNotFound = 127;

// ---- The format service: "FormatEx" and "EnableVolumeCompression".
enum FmifsCallbackCommand : int {
  kFmifsProgress = 0,            // info: uint32_t percent
  kFmifsDoneWithStructure = 1,
  kFmifsInsufficientRights = 6,
  kFmifsFsNotSupported = 7,
  kFmifsVolumeInUse = 8,
  kFmifsBadLabel = 9,
  kFmifsDone = 11,               // info: uint8_t success (BOOLEAN)
  kFmifsOutput = 14,             // info: FmifsTextOutput
  kFmifsStructureProgress = 15,
  kFmifsClusterSizeTooSmall = 16,
  kFmifsClusterSizeTooBig = 17,
  kFmifsVolumeTooSmall = 18,
  kFmifsVolumeTooBig = 19,
};

struct FmifsTextOutput {
  uint32_t Lines;
  const char* Output;  // NUL-terminated
};

// Returns nonzero to go on. Called on the thread that called FormatEx.
using FmifsCallback = uint8_t (*)(int command, uint32_t subAction, void* actionInfo);

// Media codes of FormatEx.
inline constexpr uint32_t kFmifsFloppy = 8;
inline constexpr uint32_t kFmifsRemovable = 11;
inline constexpr uint32_t kFmifsHardDisk = 12;

// The entries' types, as GetProcAddress hands them out.
using FormatExFunction = void (*)(const char16_t* driveRoot, uint32_t mediaType,
                                  const char16_t* fileSystemName, const char16_t* label,
                                  int quickFormat, uint32_t clusterSize, FmifsCallback callback);
using EnableVolumeCompressionFunction = uint8_t (*)(const char16_t* driveRoot, uint16_t compression);

}  // namespace platform
