// The bench's disks and volumes as the system presents them: the MBR on the
// disk image is the one record of the layout; volumes come and go with it,
// get their letters, are mounted from what their first sector holds, lock,
// dismount and carry a host folder as their file view. Private to the
// bench's source files.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/backend.h"
#include "sim/desktop_windows.h"
#include "sim/gpt_table.h"
#include "sim/product.h"
#include "sim/system_faults.h"
#include "sim/system_state.h"

namespace sim {

struct BenchHandle;

class VolumeSystem {
 public:
  struct MbrEntry {
    uint8_t boot = 0;
    uint8_t type = 0;
    uint32_t start = 0;
    uint32_t sectors = 0;
  };
  // What sector 0 says; with a protective entry, what the GPT behind it
  // says instead: its first four partitions stand in the entries (as
  // basic-data type 07h) and its ids and checksums in `table`, so a new GPT
  // is a layout change like a new MBR.
  struct Mbr {
    bool valid = false;
    uint32_t signature = 0;
    std::array<MbrEntry, 4> entries{};
    std::array<uint8_t, 64> table{};
    bool gpt = false;
    GptTable gptTable;
  };
  struct DiskShape {
    bool present = false;
    uint64_t sectors = 0;
    uint32_t sectorSize = 512;
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
    int openHandles = 0;       // "\\.\X:" handles with read or write access
    const void* lockedBy = nullptr;
    std::shared_ptr<int> pins = std::make_shared<int>(0);  // one more owner per open file
    // Bytes the files take, counted up by each write since the folder was
    // last measured (an overwrite counts as growth until it is measured).
    uint64_t usedBytes = 0;
    bool usedKnown = false;
  };

  VolumeSystem(const SystemState& system, Products& products, DesktopWindows& windows, SystemFaults& faults);
  ~VolumeSystem();  // removes the host folders
  VolumeSystem(const VolumeSystem&) = delete;
  VolumeSystem& operator=(const VolumeSystem&) = delete;

  // ---- Entries that take the lock themselves.
  // Letters of every drive now (due volume arrivals come in first).
  uint32_t LettersNow();
  bool GetVolume(char letter, platform::VolumeInfo* out);
  // Opens a volume handle ("\\.\X:"): the product whose volume has this
  // letter, its drive, the volume's partition number (1-based, drive 0's
  // volumes first) and the drive's layout epoch; settles first. Null with
  // the system's error when no product volume has the letter, the product
  // cannot be opened or, for a handle with read or write access, the volume
  // is locked. A handle without either only queries the device: it reaches
  // a locked volume and keeps no lock or format from it.
  Product* OpenVolume(char letter, uint32_t access, int* drive, uint32_t* partition, uint64_t* epoch,
                      uint32_t* error);
  void HandleClosing(BenchHandle& handle);
  bool Transfer(BenchHandle& handle, bool write, uint64_t offset, void* buffer, uint32_t size, uint32_t* done,
                uint32_t* error);
  bool SetVolumeLabel(char letter, const std::string& label, uint32_t* error);
  bool GetDriveFolder(char letter, platform::Backend::DriveFolder* out, uint32_t* error);
  // A file transfer on a drive's view: the volume's free space bounds a
  // write (a full volume refuses it whole) and the product's throughput
  // gives it its time.
  bool TransferFile(platform::Backend::DriveFileTransfer& transfer, uint32_t* error);
  std::string HostPathOf(const std::string& path);
  std::string TempPath();
  void Settle();

  // ---- The rest is called with mutex() held.
  std::mutex& mutex() { return mutex_; }
  SystemFaults& faults() { return faults_; }
  const SystemState& system() const { return system_; }

  // The layout on the disk image (disk_layout.cpp).
  bool ReadSectors(Product& p, int drive, uint64_t lba, uint64_t count, uint8_t* out);
  bool WriteSectors(Product& p, int drive, uint64_t lba, uint64_t count, const uint8_t* in);
  DiskShape Shape(Product& p, int drive);
  bool ReadMbr(Product& p, int drive, Mbr* mbr);
  // GPT behind a protective MBR (disk_gpt.cpp).
  static bool HasProtectiveEntry(const Mbr& mbr);
  void ReadGptLayout(Product& p, int drive, const DiskShape& shape, Mbr* mbr);
  // A UFS unit enabled or disabled is a medium arriving or leaving: its
  // volumes follow as after a layout change (disk_gpt.cpp).
  void FollowMedium(Product& p, int drive);
  // The system has read the drive's layout before anything writes to the
  // whole disk, so a table written there later is a change (disk_gpt.cpp).
  void FirstLook(Product& p, int drive);
  static std::vector<MbrEntry> UsedEntries(const Mbr& mbr);
  bool WriteMbrTable(Product& p, int drive, const std::array<MbrEntry, 4>& entries, uint32_t signature,
                     bool keepBootCode);
  void EnsureMbr(Product& p, int drive);
  bool PartitionOf(Product& p, int drive, uint32_t partition, MbrEntry* out);
  void LayoutChanged(Product& p, int drive);
  // A layout written straight to sector 0 is seen when the system re-reads
  // the disk (update properties, a re-scan).
  void Reread(Product& p, int drive);
  // The table as it is now is the one the system knows (a partition type
  // change is no new layout).
  void KeepLayout(Product& p, int drive);
  // Pending disks arrive; every disk's layout is read again.
  void Rescan();

  // Volumes (volume_mount.cpp).
  void Mount(Product& p, int drive, uint32_t partition, Volume& v);
  Volume& VolumeOf(Product& p, int drive, uint32_t partition);
  // The volume a volume handle still reaches; null (and the error) when its
  // volume went with a layout change.
  Volume* VolumeOfHandle(BenchHandle& h, uint32_t* error);
  // The volume behind a letter (null when the letter has none on a
  // product); settles arrivals first.
  Volume* VolumeOfLetter(char letter, Product** product, int* drive, uint32_t* partition);
  // The same for a volume files and labels can be reached on: mounted and
  // not locked; null with the system's error code otherwise.
  Volume* UsableVolumeOfLetter(char letter, Product** product, int* drive, uint32_t* partition, uint32_t* error);
  bool FreshFolder(Volume& v);

  // Formats a volume as the system's format does; 0 on success, else the
  // format program's exit code (1 a bad request, 4 a fatal error)
  // (volume_format.cpp).
  int FormatVolume(char letter, const std::string& fileSystem, const std::string& label, uint32_t clusterBytes,
                   bool force, std::string* message);
  // Sets a label; false and the last-error code.
  bool SetLabel(char letter, const std::string& label, uint32_t* error);

  // Host folders (volume_files.cpp).
  std::string SystemFolder();
  std::string HostPathOfLocked(const std::string& path);

 private:
  struct DriveState {
    uint64_t epoch = 0;             // one more at every layout change
    std::array<uint8_t, 64> seenTable{};
    bool seenValid = false;
    uint32_t lettersBefore = 0;     // the letters its volumes had
    bool arrivalPending = false;
    uint64_t arrivalDue = 0;
    int arrivalCount = 0;
    bool mediumKnown = false;       // FollowMedium has looked once
    bool mediumPresent = false;
  };
  using VolumeKey = std::tuple<size_t, int, uint32_t>;  // product, drive, partition

  void SettleLocked();
  Product* ProductOfLetterLocked(char letter, int* drive, uint32_t* partition) const;
  uint32_t LettersLocked() const;
  bool ReadVolumeInfo(Product& product, int drive, uint32_t partition, platform::VolumeInfo* out);
  void ConfiguredVolume(Product& product, int drive, char letter, platform::VolumeInfo* out) const;
  bool ReadFat(Product& p, int drive, const MbrEntry& part, uint32_t bps, Volume& v);
  void RemoveFolder(Volume& v);
  static char LetterOf(Product& p, int drive, uint32_t partition);
  static uint64_t FolderBytes(const Volume& v);
  // Room on the volume for `bytes` more, taken when there is.
  bool TakeSpace(Volume& v, uint64_t bytes);
  const std::string& Root();
  static std::string MatchPathNoCase(const std::string& host, const std::string& tail);

  const SystemState& system_;
  Products& products_;
  DesktopWindows& windows_;
  SystemFaults& faults_;
  std::mutex mutex_;
  std::string root_;
  int rootLock_ = -1;  // held while the bench lives: no other bench takes the root for a stale one
  bool systemMade_ = false;
  std::map<std::pair<size_t, int>, DriveState> drives_;
  std::map<VolumeKey, Volume> volumes_;
  // Labels of file systems whose label the bench keeps itself (NTFS, exFAT),
  // by product, drive and serial.
  std::map<VolumeKey, std::string> recordedLabels_;
  int folderCounter_ = 0;
  uint32_t serialCounter_ = 0;
};

}  // namespace sim
