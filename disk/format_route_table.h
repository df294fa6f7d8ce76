// Which format route runs for which file system and which system programs
// are present, and whether the route holds the device lock.
#pragma once

#include <cstddef>
#include <iterator>

namespace disk {

// `FileSystemIndex`: the choice of the settings window.
inline constexpr int kFileSystemNtfs = 0;
inline constexpr int kFileSystemFat32 = 1;
inline constexpr int kFileSystemExFat = 2;
inline constexpr const char* kFileSystemNames[] = {"NTFS", "FAT32", "exFAT"};
inline constexpr int kFileSystemCount = static_cast<int>(std::size(kFileSystemNames));

enum class FormatRoute {
  OwnFat32,       // the station's FAT32 formatter; locks the volume itself
  FormatCommand,  // "qvfmt.bat" running format.com
  FormatService,  // FormatEx of "fmifs.dll"
  None,           // nothing can format: -1
};

enum class Presence { Any, Present, Absent };

struct FormatRouteRow {
  bool fat32;          // the FAT32 choice, or one of the others
  Presence formatCom;  // format.com in the system folder
  Presence fmifs;      // "fmifs.dll" and both entry points bound
  FormatRoute route;
  bool deviceLock;     // held for the whole call, label and volume queries included
};

// First matching row wins. The service is only bound when format.com is
// missing.
inline constexpr FormatRouteRow kFormatRouteTable[] = {
    {true, Presence::Any, Presence::Any, FormatRoute::OwnFat32, false},
    {false, Presence::Present, Presence::Any, FormatRoute::FormatCommand, true},
    {false, Presence::Absent, Presence::Present, FormatRoute::FormatService, true},
    {false, Presence::Absent, Presence::Absent, FormatRoute::None, false},
};

constexpr bool Matches(Presence want, bool present) {
  return want == Presence::Any || (want == Presence::Present) == present;
}

constexpr const FormatRouteRow& SelectFormatRoute(bool fat32, bool formatCom, bool fmifs) {
  for (const FormatRouteRow& row : kFormatRouteTable) {
    if (row.fat32 == fat32 && Matches(row.formatCom, formatCom) && Matches(row.fmifs, fmifs)) {
      return row;
    }
  }
  return kFormatRouteTable[std::size(kFormatRouteTable) - 1];
}

}  // namespace disk
