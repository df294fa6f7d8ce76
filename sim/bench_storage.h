// The bench's disk, volume, program and window state. Private to the
// bench's source files.
#pragma once

#include <array>
#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/windows.h"
#include "sim/bench.h"

namespace sim {

struct BenchHandle;

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

inline platform::WindowEntry MakeWindow(platform::WindowId id, const std::string& className,
                                        const std::string& title) {
  platform::WindowEntry w;
  w.id = id;
  std::snprintf(w.className, sizeof w.className, "%s", className.c_str());
  std::snprintf(w.title, sizeof w.title, "%s", title.c_str());
  return w;
}

struct Bench::Storage {
  struct MbrEntry {
    uint8_t boot = 0;
    uint8_t type = 0;
    uint32_t start = 0;
    uint32_t sectors = 0;
  };
  struct Mbr {
    bool valid = false;
    uint32_t signature = 0;
    std::array<MbrEntry, 4> entries{};
    std::array<uint8_t, 64> table{};
  };
  struct DiskShape {
    bool present = false;
    uint64_t sectors = 0;
    uint32_t sectorSize = 512;
  };
  struct DriveState {
    uint64_t epoch = 0;             // one more at every layout change
    std::array<uint8_t, 64> seenTable{};
    bool seenValid = false;
    uint32_t lettersBefore = 0;     // the letters its volumes had
    bool arrivalPending = false;
    uint64_t arrivalDue = 0;
    int arrivalCount = 0;
  };
  struct Volume {
    bool configured = true;   // still what the bench file says
    uint64_t epoch = 0;
    bool dismounted = false;  // mounted again at the next use without a lock
    bool mounted = false;
    bool fat = false;
    std::string fileSystem, label;
    uint32_t serial = 0;
    uint32_t clusterBytes = 4096;
    uint64_t totalBytes = 0, fsFreeBytes = 0;
    uint64_t labelSector = 0;  // FAT32: first sector of the root folder
    uint64_t partStart = 0, partSectors = 0;
    uint32_t sectorSize = 512;
    std::string folder;        // the file view; empty: none
    uint32_t folderSerial = 0;
    int openHandles = 0;       // "\\.\X:" handles
    const void* lockedBy = nullptr;
    std::shared_ptr<int> pins = std::make_shared<int>(0);  // one more owner per open file
  };
  struct ArmedSystemFault {
    SystemFault fault;
    int seen = 0;
    int fired = 0;
  };

  std::mutex mutex;
  std::string root;
  bool systemMade = false;
  std::unique_ptr<std::atomic<bool>[]> pending;
  std::vector<platform::WindowEntry> windows;
  platform::WindowId nextWindow = 0x20010;
  std::vector<ArmedSystemFault> faults;
  std::vector<std::string> log;
  std::map<std::pair<size_t, int>, DriveState> drives;
  std::map<std::tuple<size_t, int, uint32_t>, Volume> volumes;
  // Labels of file systems whose label the bench keeps itself (NTFS, exFAT),
  // by product, drive and serial.
  std::map<std::tuple<size_t, int, uint32_t>, std::string> recordedLabels;
  int folderCounter = 0;
  uint32_t serialCounter = 0;

  bool TakeFault(SystemOp op, std::string_view target, uint32_t* error);
  const std::string& Root();
  std::string SystemFolder(const SystemConfig& system);

  bool ReadSectors(Product& p, int drive, uint64_t lba, uint64_t count, uint8_t* out);
  bool WriteSectors(Product& p, int drive, uint64_t lba, uint64_t count, const uint8_t* in);
  DiskShape Shape(Product& p, int drive);
  bool ReadMbr(Product& p, int drive, Mbr* mbr);
  static std::vector<MbrEntry> UsedEntries(const Mbr& mbr);
  bool WriteMbrTable(Product& p, int drive, const std::array<MbrEntry, 4>& entries, uint32_t signature,
                     bool keepBootCode);
  void EnsureMbr(Product& p, int drive);
  bool PartitionOf(Product& p, int drive, uint32_t partition, MbrEntry* out);
  void LayoutChanged(Bench& bench, Product& p, int drive);
  void Reread(Bench& bench, Product& p, int drive);
  void SettleLocked(Bench& bench);

  void RemoveFolder(Volume& v);
  bool FreshFolder(Volume& v);
  bool ReadFat(Product& p, int drive, const MbrEntry& part, uint32_t bps, Volume& v);
  void Mount(Bench& bench, Product& p, int drive, uint32_t partition, Volume& v);
  Volume& VolumeOf(Bench& bench, Product& p, int drive, uint32_t partition);
  static char LetterOf(Product& p, int drive, uint32_t partition);
  static uint64_t FolderBytes(const Volume& v);
  Volume* VolumeOfHandle(BenchHandle& h, uint32_t* error);
  bool Transfer(Bench& bench, BenchHandle& h, bool write, uint64_t offset, void* buffer, uint32_t size,
                uint32_t* done, uint32_t* error);

  // The volume behind a letter (null when the letter has none on a
  // product); settles arrivals first.
  Volume* VolumeOfLetter(Bench& bench, char letter, Product** product, int* drive, uint32_t* partition);
  // The same for a volume files and labels can be reached on: mounted and
  // not locked; null with the system's error code otherwise.
  Volume* UsableVolumeOfLetter(Bench& bench, char letter, Product** product, int* drive, uint32_t* partition,
                               uint32_t* error);
  // Formats a volume as the system's format does; 0 on success, else the
  // format program's exit code (1 a bad request, 4 a fatal error).
  int FormatVolume(Bench& bench, char letter, const std::string& fileSystem, const std::string& label,
                   uint32_t clusterBytes, bool force, std::string* message);
  // Sets a label; false and the last-error code.
  bool SetLabel(Bench& bench, char letter, const std::string& label, uint32_t* error);
};

}  // namespace sim
