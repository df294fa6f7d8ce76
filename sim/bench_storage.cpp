// The bench's disks and volumes as the system presents them: the MBR on the
// disk image is the one record of the layout; volumes come and go with it,
// are mounted from what their first sector holds, lock, dismount and carry
// a host folder as their file view.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>

#include "platform/clock.h"
#include "platform/disk_ioctl.h"
#include "platform/files.h"
#include "sim/bench_handle.h"
#include "sim/bench_storage.h"
#include "sim/disk_image.h"

namespace sim {

namespace fs = std::filesystem;

void Bench::StorageDeleter::operator()(Storage* storage) const {
  if (storage == nullptr) return;
  if (!storage->root.empty()) {
    std::error_code ignored;
    fs::remove_all(storage->root, ignored);
  }
  delete storage;
}

void Bench::MakeStorage() {
  storage_.reset(new Storage);
  storage_->pending = std::make_unique<std::atomic<bool>[]>(std::max<size_t>(products_.size(), 1));
  storage_->windows.push_back(MakeWindow(0x10002, "Shell_TrayWnd", ""));
}

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// CHS of an LBA in the 255-head, 63-sector translation, capped as the
// table does past its reach.
void PutChs(uint8_t* p, uint64_t lba) {
  uint64_t c = lba / (255 * 63), h = (lba / 63) % 255, s = lba % 63 + 1;
  if (c > 1023) {
    c = 1023;
    h = 254;
    s = 63;
  }
  p[0] = static_cast<uint8_t>(h);
  p[1] = static_cast<uint8_t>(s | ((c >> 2) & 0xC0));
  p[2] = static_cast<uint8_t>(c & 0xFF);
}

}  // namespace

// ---- Faults and the shell log.

void Bench::AddSystemFault(const SystemFault& fault) {
  std::lock_guard lock(storage().mutex);
  storage().faults.push_back({fault, 0, 0});
}

void Bench::ClearSystemFaults() {
  std::lock_guard lock(storage().mutex);
  storage().faults.clear();
}

std::vector<std::string> Bench::CommandLog() const {
  std::lock_guard lock(storage().mutex);
  return storage().log;
}

bool Bench::Storage::TakeFault(SystemOp op, std::string_view target, uint32_t* error) {
  for (ArmedSystemFault& armed : faults) {
    const SystemFault& f = armed.fault;
    if (f.op != op) continue;
    if (!f.target.empty() && !EqualNoCase(f.target, target)) continue;
    if (armed.seen++ < f.skip) continue;
    if (f.count >= 0 && armed.fired >= f.count) continue;
    ++armed.fired;
    *error = f.error;
    return true;
  }
  return false;
}

void Bench::SetDiskPending(Product& product, bool pending) {
  storage().pending[product.index()].store(pending);
}

bool Bench::DiskPending(const Product& product) const {
  return storage().pending[product.index()].load();
}

// ---- Host folders.

const std::string& Bench::Storage::Root() {
  if (!root.empty()) return root;
  const char* dir = std::getenv("TMPDIR");
  std::string pattern =
      std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/kestrova-bench-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) return root;
  root = name.data();
  return root;
}

std::string Bench::Storage::SystemFolder(const SystemConfig& system) {
  const std::string& r = Root();
  if (r.empty()) return {};
  const std::string folder = r + "/system";
  if (!systemMade) {
    std::error_code ignored;
    fs::create_directories(folder + "/Windows/system32", ignored);
    for (const char* program : {"cmd.exe", "diskpart.exe", "format.com", "label.exe"}) {
      const bool missing = std::any_of(system.missingPrograms.begin(), system.missingPrograms.end(),
                                       [&](const std::string& m) { return EqualNoCase(m, program); });
      if (missing) continue;
      if (FILE* f = std::fopen((folder + "/Windows/system32/" + program).c_str(), "wb")) {
        std::fputs("MZ", f);
        std::fclose(f);
      }
    }
    if (!system.tempPath.empty() && system.tempPath.size() > 2 && system.tempPath[1] == ':') {
      std::string rest = system.tempPath.substr(2);
      std::replace(rest.begin(), rest.end(), '\\', '/');
      fs::create_directories(folder + rest, ignored);
    }
    systemMade = true;
  }
  return folder;
}

std::string Bench::TempPath() {
  std::lock_guard lock(storage().mutex);
  if (system_.tempPath.empty()) return {};
  if (storage().SystemFolder(system_).empty()) return {};
  return system_.tempPath;
}

// ---- The layout on the disk image.

bool Bench::Storage::ReadSectors(Product& p, int drive, uint64_t lba, uint64_t count, uint8_t* out) {
  return p.WithBridge([&](EmulatedBridge& b) {
    DiskImage& d = drive == 0 ? b.disk() : b.disk2();
    return d.present() && d.Read(lba, count, out);
  });
}

bool Bench::Storage::WriteSectors(Product& p, int drive, uint64_t lba, uint64_t count, const uint8_t* in) {
  return p.WithBridge([&](EmulatedBridge& b) {
    DiskImage& d = drive == 0 ? b.disk() : b.disk2();
    return d.present() && d.Write(lba, count, in);
  });
}

Bench::Storage::DiskShape Bench::Storage::Shape(Product& p, int drive) {
  return p.WithBridge([&](EmulatedBridge& b) {
    DiskImage& d = drive == 0 ? b.disk() : b.disk2();
    return DiskShape{d.present(), d.sectors(), d.sectorSize()};
  });
}

bool Bench::Storage::ReadMbr(Product& p, int drive, Mbr* mbr) {
  const DiskShape shape = Shape(p, drive);
  if (!shape.present) return false;
  std::vector<uint8_t> sector(shape.sectorSize);
  if (!ReadSectors(p, drive, 0, 1, sector.data())) return false;
  mbr->valid = sector[510] == 0x55 && sector[511] == 0xAA;
  mbr->signature = Get32(&sector[0x1B8]);
  std::memcpy(mbr->table.data(), &sector[0x1BE], 64);
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = &sector[0x1BE + 16 * i];
    mbr->entries[i] = {e[0], e[4], Get32(e + 8), Get32(e + 12)};
  }
  return true;
}

// The partitions a valid MBR gives, in table order (entries with a type and
// a length).
std::vector<Bench::Storage::MbrEntry> Bench::Storage::UsedEntries(const Mbr& mbr) {
  std::vector<MbrEntry> used;
  if (!mbr.valid) return used;
  for (const MbrEntry& e : mbr.entries)
    if (e.type != 0 && e.sectors != 0) used.push_back(e);
  return used;
}

bool Bench::Storage::WriteMbrTable(Product& p, int drive, const std::array<MbrEntry, 4>& entries,
                                   uint32_t signature, bool keepBootCode) {
  const DiskShape shape = Shape(p, drive);
  std::vector<uint8_t> sector(shape.sectorSize, 0);
  if (keepBootCode && !ReadSectors(p, drive, 0, 1, sector.data())) return false;
  Put32(&sector[0x1B8], signature);
  for (int i = 0; i < 4; ++i) {
    uint8_t* e = &sector[0x1BE + 16 * i];
    std::memset(e, 0, 16);
    const MbrEntry& m = entries[i];
    if (m.type == 0 && m.sectors == 0) continue;
    e[0] = m.boot;
    PutChs(e + 1, m.start);
    e[4] = m.type;
    PutChs(e + 5, m.start + (m.sectors ? m.sectors - 1 : 0));
    Put32(e + 8, m.start);
    Put32(e + 12, m.sectors);
  }
  sector[510] = 0x55;
  sector[511] = 0xAA;
  return WriteSectors(p, drive, 0, 1, sector.data());
}

// A drive that still has only the bench file's volumes gets an MBR that
// says what those volumes are, the first time the layout matters.
void Bench::Storage::EnsureMbr(Product& p, int drive) {
  Mbr mbr;
  if (!ReadMbr(p, drive, &mbr) || mbr.valid) return;
  const uint32_t letters = p.Letters(drive);
  const int n = std::min(std::popcount(letters), 4);
  if (n == 0) return;
  const DiskShape shape = Shape(p, drive);
  std::array<MbrEntry, 4> entries{};
  const uint64_t part = shape.sectors / static_cast<uint64_t>(n);
  const std::string& fsName = p.config().volume.fileSystem;
  const uint8_t type = EqualNoCase(fsName, "FAT32") ? platform::kPartitionFat32Xint13 : platform::kPartitionIfs;
  for (int k = 0; k < n; ++k) {
    const uint64_t start = k == 0 ? 63 : part * static_cast<uint64_t>(k);
    const uint64_t end = k == n - 1 ? shape.sectors : part * static_cast<uint64_t>(k + 1);
    if (end <= start) continue;
    entries[k] = {0, type, static_cast<uint32_t>(start), static_cast<uint32_t>(std::min<uint64_t>(end - start, 0xFFFFFFFFu))};
  }
  WriteMbrTable(p, drive, entries, 0x4B535631u + static_cast<uint32_t>(p.index()), false);
  ReadMbr(p, drive, &mbr);
  DriveState& ds = drives[{p.index(), drive}];
  ds.seenTable = mbr.table;
  ds.seenValid = true;
}

bool Bench::Storage::PartitionOf(Product& p, int drive, uint32_t partition, MbrEntry* out) {
  EnsureMbr(p, drive);
  Mbr mbr;
  if (!ReadMbr(p, drive, &mbr)) return false;
  const std::vector<MbrEntry> used = UsedEntries(mbr);
  if (partition == 0 || partition > used.size()) return false;
  *out = used[partition - 1];
  return true;
}

// The old volumes of the drive go at once; the new ones show after the
// arrival delay, under the letters the drive had.
void Bench::Storage::LayoutChanged(Bench& bench, Product& p, int drive) {
  DriveState& ds = drives[{p.index(), drive}];
  ++ds.epoch;
  const uint32_t previous = p.Letters(drive);
  if (previous != 0) ds.lettersBefore = previous;
  p.SetLetters(drive, 0);
  for (auto it = volumes.begin(); it != volumes.end();) {
    if (std::get<0>(it->first) == p.index() && std::get<1>(it->first) == drive) {
      RemoveFolder(it->second);
      it = volumes.erase(it);
    } else {
      ++it;
    }
  }
  Mbr mbr;
  ReadMbr(p, drive, &mbr);
  ds.seenTable = mbr.table;
  ds.seenValid = true;
  ds.arrivalCount = static_cast<int>(UsedEntries(mbr).size());
  ds.arrivalPending = ds.arrivalCount > 0;
  ds.arrivalDue = NowMs() + bench.system_.volumeArrivalMs;
}

// A layout written straight to sector 0 is seen when the system re-reads
// the disk (update properties, a re-scan).
void Bench::Storage::Reread(Bench& bench, Product& p, int drive) {
  Mbr mbr;
  if (!ReadMbr(p, drive, &mbr)) return;
  DriveState& ds = drives[{p.index(), drive}];
  if (!ds.seenValid) {
    // First look: the drive's present volumes are what the table says.
    ds.seenTable = mbr.table;
    ds.seenValid = true;
    return;
  }
  if (mbr.table != ds.seenTable) LayoutChanged(bench, p, drive);
}

void Bench::Settle() const {
  Storage& st = storage();
  std::lock_guard lock(st.mutex);
  st.SettleLocked(const_cast<Bench&>(*this));
}

void Bench::Storage::SettleLocked(Bench& bench) {
  const uint64_t now = NowMs();
  for (auto& [key, ds] : drives) {
    if (!ds.arrivalPending || now < ds.arrivalDue) continue;
    Product& p = *bench.products_[key.first];
    const int drive = key.second;
    ds.arrivalPending = false;
    // Letters: the drive's old ones first, then the lowest free from D.
    uint32_t taken = (1u << (bench.system_.windowsDrive - 'A')) | bench.networkLetters_.load();
    for (const auto& other : bench.products_) taken |= other->Letters(0) | other->Letters(1);
    uint32_t mask = 0;
    int need = ds.arrivalCount;
    for (int bit = 0; bit < 26 && need > 0; ++bit)
      if ((ds.lettersBefore & (1u << bit)) && !(taken & (1u << bit))) {
        mask |= 1u << bit;
        --need;
      }
    for (int bit = 3; bit < 26 && need > 0; ++bit)
      if (!((taken | mask) & (1u << bit))) {
        mask |= 1u << bit;
        --need;
      }
    p.SetLetters(drive, mask);
    uint32_t partition = 1;
    for (int bit = 0; bit < 26; ++bit) {
      if (!(mask & (1u << bit))) continue;
      Volume& v = volumes[{p.index(), drive, partition}];
      v = Volume{};
      v.configured = false;
      v.epoch = ds.epoch;
      Mount(bench, p, drive, partition, v);
      const bool win7 = bench.osMajor_.load() > 6 || (bench.osMajor_.load() == 6 && bench.osMinor_.load() >= 1);
      if (!v.mounted && win7)
        windows.push_back(MakeWindow(nextWindow++, "#32770", "Microsoft Windows"));
      ++partition;
    }
  }
}

// ---- Mounting.

void Bench::Storage::RemoveFolder(Volume& v) {
  if (v.folder.empty()) return;
  std::error_code ignored;
  fs::remove_all(v.folder, ignored);
  v.folder.clear();
}

bool Bench::Storage::FreshFolder(Volume& v) {
  RemoveFolder(v);
  const std::string& r = Root();
  if (r.empty()) return false;
  v.folder = r + "/volume-" + std::to_string(++folderCounter);
  std::error_code error;
  fs::create_directories(v.folder, error);
  return !error;
}

// What a FAT boot sector says, when the system would take it.
bool Bench::Storage::ReadFat(Product& p, int drive, const MbrEntry& part, uint32_t bps, Volume& v) {
  std::vector<uint8_t> bs(bps);
  if (!ReadSectors(p, drive, part.start, 1, bs.data())) return false;
  if (bs[510] != 0x55 || bs[511] != 0xAA || (bs[0] != 0xEB && bs[0] != 0xE9)) return false;
  const uint32_t bytesPerSector = Get16(&bs[11]);
  const uint32_t spc = bs[13];
  const uint32_t reserved = Get16(&bs[14]);
  const uint32_t fats = bs[16];
  const uint32_t rootEntries = Get16(&bs[17]);
  const uint32_t total = Get16(&bs[19]) ? Get16(&bs[19]) : Get32(&bs[32]);
  const uint32_t fatSize = Get16(&bs[22]) ? Get16(&bs[22]) : Get32(&bs[36]);
  if (bytesPerSector != bps || !IsPowerOfTwo(spc) || spc > 128 || reserved == 0 || fats == 0 ||
      fatSize == 0 || total == 0 || total > part.sectors)
    return false;
  const uint32_t rootSectors = (rootEntries * 32 + bps - 1) / bps;
  const uint64_t system = reserved + static_cast<uint64_t>(fats) * fatSize + rootSectors;
  if (system >= total) return false;
  const uint64_t clusters = (total - system) / spc;
  const bool fat32 = clusters >= 65525;
  // The FAT must have an entry for every cluster and the two reserved ones.
  const uint64_t entries = static_cast<uint64_t>(fatSize) * bps * 8 / (fat32 ? 32 : clusters >= 4085 ? 16 : 12);
  if (entries < clusters + 2) return false;
  if (fat32 && (Get16(&bs[22]) != 0 || rootEntries != 0 || Get32(&bs[44]) < 2)) return false;
  if (!fat32 && Get16(&bs[22]) == 0) return false;
  const uint32_t clusterBytes = spc * bps;
  v.mounted = true;
  v.fileSystem = fat32 ? "FAT32" : "FAT";
  v.fat = true;
  v.serial = Get32(&bs[fat32 ? 67 : 39]);
  v.clusterBytes = clusterBytes;
  v.totalBytes = clusters * clusterBytes;
  v.label.clear();
  // Free clusters: the FSInfo count when it is believable.
  uint64_t freeClusters = clusters - 1;
  if (fat32) {
    std::vector<uint8_t> info(bps);
    const uint32_t infoSector = Get16(&bs[48]);
    if (infoSector != 0 && infoSector < reserved && ReadSectors(p, drive, part.start + infoSector, 1, info.data()) &&
        Get32(&info[0]) == 0x41615252 && Get32(&info[484]) == 0x61417272 && Get32(&info[488]) <= clusters)
      freeClusters = Get32(&info[488]);
    // The label is the root folder's label entry (the boot sector's copy
    // is not what the system shows).
    const uint64_t rootSector = part.start + system + (static_cast<uint64_t>(Get32(&bs[44])) - 2) * spc;
    v.labelSector = rootSector;
    std::vector<uint8_t> dir(clusterBytes);
    if (ReadSectors(p, drive, rootSector, spc, dir.data())) {
      for (uint32_t off = 0; off + 32 <= clusterBytes; off += 32) {
        const uint8_t* e = &dir[off];
        if (e[0] == 0) break;
        if (e[0] == 0xE5 || e[11] == 0x0F) continue;
        if ((e[11] & 0x08) && !(e[11] & 0x10)) {
          v.label = Trim(std::string(reinterpret_cast<const char*>(e), 11));
          break;
        }
      }
    }
  } else {
    v.labelSector = 0;
    const std::string bpbLabel = Trim(std::string(reinterpret_cast<const char*>(&bs[43]), 11));
    v.label = bpbLabel == "NO NAME" ? "" : bpbLabel;
  }
  v.fsFreeBytes = freeClusters * clusterBytes;
  return true;
}

void Bench::Storage::Mount(Bench& bench, Product& p, int drive, uint32_t partition, Volume& v) {
  (void)bench;
  const uint32_t oldSerial = v.mounted ? v.serial : v.folderSerial;
  v.dismounted = false;
  v.mounted = false;
  v.fat = false;
  v.fileSystem.clear();
  MbrEntry part{};
  const DiskShape shape = Shape(p, drive);
  if (shape.present && PartitionOf(p, drive, partition, &part)) {
    v.partStart = part.start;
    v.partSectors = part.sectors;
    v.sectorSize = shape.sectorSize;
    if (!ReadFat(p, drive, part, shape.sectorSize, v)) {
      std::vector<uint8_t> bs(shape.sectorSize);
      if (ReadSectors(p, drive, part.start, 1, bs.data()) && bs[510] == 0x55 && bs[511] == 0xAA) {
        const std::string oem(reinterpret_cast<const char*>(&bs[3]), 8);
        if (oem == "NTFS    " || oem == "EXFAT   ") {
          v.mounted = true;
          v.fileSystem = oem == "NTFS    " ? "NTFS" : "exFAT";
          v.serial = Get32(&bs[oem == "NTFS    " ? 0x48 : 100]);
          v.clusterBytes = 4096;
          v.totalBytes = part.sectors * static_cast<uint64_t>(shape.sectorSize);
          v.fsFreeBytes = v.totalBytes / 100 * 99;
          const auto it = recordedLabels.find({p.index(), drive, v.serial});
          v.label = it == recordedLabels.end() ? std::string() : it->second;
        }
      }
    }
  }
  if (!v.mounted) {
    RemoveFolder(v);
    v.folderSerial = 0;
    return;
  }
  // A new file system is an empty folder; the same one keeps its files.
  if (v.folder.empty() || v.serial != oldSerial) FreshFolder(v);
  v.folderSerial = v.serial;
}

// The record of a volume; a volume still on the bench file's settings gets
// its record (and its folder) on first use.
Bench::Storage::Volume& Bench::Storage::VolumeOf(Bench& bench, Product& p, int drive, uint32_t partition) {
  auto [it, added] = volumes.try_emplace({p.index(), drive, partition});
  Volume& v = it->second;
  if (added) {
    v.configured = true;
    v.epoch = drives[{p.index(), drive}].epoch;
    platform::VolumeInfo info;
    const char letter = LetterOf(p, drive, partition);
    bench.ConfiguredVolume(p, drive, letter, &info);
    v.mounted = info.mounted;
    v.fileSystem = info.fileSystem;
    v.label = info.label;
    v.serial = info.serialNumber;
    v.totalBytes = info.totalBytes;
    v.fsFreeBytes = info.freeBytes;
    v.fat = EqualNoCase(v.fileSystem, "FAT32") || EqualNoCase(v.fileSystem, "FAT");
    v.sectorSize = Shape(p, drive).sectorSize;
    if (v.mounted) {
      FreshFolder(v);
      v.folderSerial = v.serial;
    }
  }
  if (v.dismounted && v.lockedBy == nullptr) Mount(bench, p, drive, partition, v);
  return v;
}

char Bench::Storage::LetterOf(Product& p, int drive, uint32_t partition) {
  const uint32_t letters = p.Letters(drive);
  uint32_t k = 0;
  for (int bit = 0; bit < 26; ++bit)
    if (letters & (1u << bit))
      if (++k == partition) return static_cast<char>('A' + bit);
  return 0;
}

uint64_t Bench::Storage::FolderBytes(const Volume& v) {
  if (v.folder.empty()) return 0;
  uint64_t used = 0;
  const uint64_t cluster = std::max<uint32_t>(v.clusterBytes, 512);
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(v.folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    std::error_code e2;
    const uint64_t size = it->is_regular_file(e2) ? it->file_size(e2) : cluster;
    used += (size + cluster - 1) / cluster * cluster;
  }
  return used;
}

bool Bench::StorageVolume(Product& product, int drive, uint32_t partition, char letter,
                          platform::VolumeInfo* out) {
  (void)letter;
  Storage& st = storage();
  std::lock_guard lock(st.mutex);
  auto it = st.volumes.find({product.index(), drive, partition});
  if (it == st.volumes.end() || it->second.configured) return false;  // the bench file's settings
  Storage::Volume& v = st.VolumeOf(*this, product, drive, partition);
  const ProductConfig& c = product.config();
  out->driveType = c.volume.driveType ? c.volume.driveType
                                      : (c.placement.cdrom ? platform::kDriveCdRom : platform::kDriveFixed);
  if (v.lockedBy != nullptr) {
    out->mounted = false;
    out->queryError = platform::kErrorAccessDenied;
    return true;
  }
  out->mounted = v.mounted;
  if (!v.mounted) return true;
  std::snprintf(out->label, sizeof out->label, "%s", v.label.c_str());
  std::snprintf(out->fileSystem, sizeof out->fileSystem, "%s", v.fileSystem.c_str());
  out->serialNumber = v.serial;
  out->totalBytes = v.totalBytes;
  const uint64_t used = Storage::FolderBytes(v);
  out->freeBytes = v.fsFreeBytes > used ? v.fsFreeBytes - used : 0;
  return true;
}

// ---- Opening and closing volume handles.

bool Bench::VolumeOpenAllowed(Product& product, int drive, char letter, uint32_t access, uint32_t* error) {
  (void)access;
  Storage& st = storage();
  std::lock_guard lock(st.mutex);
  uint32_t partition = 0;
  for (int bit = 0; bit < letter - 'A'; ++bit) partition += (product.Letters(drive) >> bit) & 1;
  Storage::Volume& v = st.VolumeOf(*this, product, drive, partition + 1);
  if (v.lockedBy != nullptr) {
    *error = platform::kErrorAccessDenied;
    return false;
  }
  ++v.openHandles;
  return true;
}

void Bench::HandleOpened(platform::Handle handle) {
  if (handle->kind != platform::HandleKind::Device) return;
  auto* h = static_cast<BenchHandle*>(handle);
  if (h->what != BenchHandle::Kind::Volume) return;
  std::lock_guard lock(storage().mutex);
  h->epoch = storage().drives[{h->product->index(), h->unit}].epoch;
}

void Bench::HandleClosing(platform::Handle handle) {
  if (handle->kind != platform::HandleKind::Device) return;
  auto* h = static_cast<BenchHandle*>(handle);
  if (h->what != BenchHandle::Kind::Volume) return;
  Storage& st = storage();
  std::lock_guard lock(st.mutex);
  auto it = st.volumes.find({h->product->index(), h->unit, h->partition});
  if (it == st.volumes.end() || it->second.epoch != h->epoch) return;
  Storage::Volume& v = it->second;
  if (v.openHandles > 0) --v.openHandles;
  if (v.lockedBy == h) v.lockedBy = nullptr;  // closing the locking handle unlocks
}

platform::Handle Bench::OpenDeviceFile(const char* path, uint32_t access, uint32_t share, uint32_t flags,
                                       uint32_t* error) {
  platform::Handle handle = OpenDevice(path, access, share, error);
  if (handle != platform::kInvalidHandle) static_cast<BenchHandle*>(handle)->flags = flags;
  return handle;
}

// The volume a volume handle still reaches; null (and the error) when its
// volume went with a layout change. Called with the storage mutex held.
Bench::Storage::Volume* Bench::Storage::VolumeOfHandle(BenchHandle& h, uint32_t* error) {
  auto it = volumes.find({h.product->index(), h.unit, h.partition});
  if (it == volumes.end() || it->second.epoch != h.epoch) {
    *error = platform::kErrorNotReady;
    return nullptr;
  }
  return &it->second;
}

// ---- Raw transfers.

bool Bench::Storage::Transfer(Bench& bench, BenchHandle& h, bool write, uint64_t offset, void* buffer,
                              uint32_t size, uint32_t* done, uint32_t* error) {
  *done = 0;
  if (h.product == nullptr || (h.what != BenchHandle::Kind::Interface && h.what != BenchHandle::Kind::Volume)) {
    *error = platform::kErrorInvalidFunction;
    return false;
  }
  Product& p = *h.product;
  uint32_t openError = 0;
  if (!p.CanOpen(&openError) || h.generation != p.Generation()) {
    *error = platform::kErrorDeviceNotConnected;
    return false;
  }
  if ((h.access & (write ? platform::kAccessWrite : platform::kAccessRead)) == 0) {
    *error = platform::kErrorAccessDenied;
    return false;
  }
  const int drive = h.what == BenchHandle::Kind::Volume ? h.unit : 0;
  const DiskShape shape = Shape(p, drive);
  if (!shape.present) {
    *error = platform::kErrorNotReady;
    return false;
  }
  const uint32_t bps = shape.sectorSize;
  // Raw devices move whole sectors only.
  if (offset % bps != 0 || size % bps != 0) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  uint64_t base = 0, limit = shape.sectors;
  if (h.what == BenchHandle::Kind::Volume) {
    Volume* v = VolumeOfHandle(h, error);
    if (v == nullptr) return false;
    MbrEntry part{};
    if (!PartitionOf(p, drive, h.partition, &part)) {
      *error = platform::kErrorNotReady;
      return false;
    }
    base = part.start;
    limit = part.sectors;
    // Since Vista a mounted file system's sectors are written only through
    // a handle that locked the volume (or after a dismount).
    const bool vista = bench.osMajor_.load() >= 6;
    if (write && vista && v->mounted && !v->dismounted && v->lockedBy != &h) {
      *error = platform::kErrorAccessDenied;
      return false;
    }
  }
  const uint64_t first = offset / bps, count = size / bps;
  if (first + count > limit) {
    *error = platform::kErrorInvalidParameter;
    return false;
  }
  uint32_t faultError = 0;
  if (TakeFault(write ? SystemOp::Write : SystemOp::Read, p.config().name, &faultError)) {
    *error = faultError ? faultError : (write ? platform::kErrorWriteFault : platform::kErrorReadFault);
    return false;
  }
  if (count == 0) return true;
  const bool ok = write ? WriteSectors(p, drive, base + first, count, static_cast<const uint8_t*>(buffer))
                        : ReadSectors(p, drive, base + first, count, static_cast<uint8_t*>(buffer));
  if (!ok) {
    *error = platform::kErrorIoDevice;
    return false;
  }
  *done = size;
  return true;
}

bool Bench::ReadDevice(platform::Handle handle, uint64_t offset, void* buffer, uint32_t size,
                       uint32_t* done, uint32_t* error) {
  std::lock_guard lock(storage().mutex);
  return storage().Transfer(*this, *static_cast<BenchHandle*>(handle), false, offset, buffer, size, done, error);
}

bool Bench::WriteDevice(platform::Handle handle, uint64_t offset, const void* buffer, uint32_t size,
                        uint32_t* done, uint32_t* error) {
  std::lock_guard lock(storage().mutex);
  return storage().Transfer(*this, *static_cast<BenchHandle*>(handle), true, offset, const_cast<void*>(buffer),
                            size, done, error);
}

// ---- Control requests on disk and volume handles.

namespace {

bool Need(uint32_t size, uint32_t needed, uint32_t* error) {
  if (size >= needed) return true;
  *error = platform::kErrorInsufficientBuffer;
  return false;
}

bool KnownType(uint8_t type) { return type != 0 && type != 0x05 && type != 0x0F && type != 0x85; }

}  // namespace

bool Bench::StorageIoControl(platform::Handle handle, uint32_t code, const void* in, uint32_t inSize,
                             void* out, uint32_t outSize, uint32_t* returned, uint32_t* error) {
  using Kind = BenchHandle::Kind;
  auto& h = *static_cast<BenchHandle*>(handle);
  Storage& st = storage();
  std::lock_guard lock(st.mutex);
  if (h.product == nullptr || (h.what != Kind::Interface && h.what != Kind::Volume) ||
      h.product->config().placement.cdrom) {
    *error = platform::kErrorInvalidFunction;
    return false;
  }
  Product& p = *h.product;
  uint32_t openError = 0;
  if (!p.CanOpen(&openError)) {
    *error = platform::kErrorDeviceNotConnected;
    return false;
  }
  const bool volume = h.what == Kind::Volume;
  const int drive = volume ? h.unit : 0;
  const Storage::DiskShape shape = st.Shape(p, drive);
  if (!shape.present) {
    *error = platform::kErrorNotReady;
    return false;
  }
  const uint32_t bps = shape.sectorSize;
  const std::string& name = p.config().name;
  Storage::Volume* v = nullptr;
  if (volume) {
    v = st.VolumeOfHandle(h, error);
    if (v == nullptr) return false;
  }
  auto fault = [&](SystemOp op, uint32_t fallback) {
    uint32_t e = 0;
    if (!st.TakeFault(op, name, &e)) return false;
    *error = e ? e : fallback;
    return true;
  };

  switch (code) {
    case platform::kIoctlDiskGetDriveGeometry: {
      if (!Need(outSize, sizeof(platform::DiskGeometry), error)) return false;
      platform::DiskGeometry g{};
      g.TracksPerCylinder = 255;
      g.SectorsPerTrack = 63;
      g.BytesPerSector = bps;
      g.Cylinders = static_cast<int64_t>(shape.sectors / (255 * 63));
      const uint32_t type = p.config().volume.driveType;
      g.MediaType = type == platform::kDriveRemovable ? platform::kMediaRemovable : platform::kMediaFixed;
      std::memcpy(out, &g, sizeof g);
      *returned = sizeof g;
      return true;
    }
    case platform::kIoctlDiskGetLengthInfo: {
      if (!Need(outSize, sizeof(platform::GetLengthInformation), error)) return false;
      platform::GetLengthInformation length{};
      Storage::MbrEntry part{};
      if (volume && !st.PartitionOf(p, drive, h.partition, &part)) {
        *error = platform::kErrorNotReady;
        return false;
      }
      length.Length = static_cast<int64_t>((volume ? part.sectors : shape.sectors) * bps);
      std::memcpy(out, &length, sizeof length);
      *returned = sizeof length;
      return true;
    }
    case platform::kIoctlDiskGetDriveLayout:
    case platform::kIoctlDiskGetDriveLayoutEx: {
      const bool ex = code == platform::kIoctlDiskGetDriveLayoutEx;
      st.EnsureMbr(p, drive);
      Storage::Mbr mbr;
      if (!st.ReadMbr(p, drive, &mbr)) {
        *error = platform::kErrorIoDevice;
        return false;
      }
      const uint32_t entries = mbr.valid ? platform::kMbrLayoutEntries : 0;
      const uint32_t bytes = ex ? platform::DriveLayoutExBytes(std::max(entries, 1u))
                                : platform::DriveLayoutBytes(std::max(entries, 1u));
      if (!Need(outSize, bytes, error)) return false;
      std::memset(out, 0, bytes);
      uint32_t number = 0;
      if (ex) {
        auto* layout = static_cast<platform::DriveLayoutInformationEx*>(out);
        layout->PartitionStyle = mbr.valid ? platform::kPartitionStyleMbr : platform::kPartitionStyleRaw;
        layout->PartitionCount = entries;
        layout->Mbr.Signature = mbr.signature;
        for (uint32_t i = 0; i < entries; ++i) {
          const Storage::MbrEntry& e = mbr.entries[i];
          platform::PartitionInformationEx& pi = layout->PartitionEntry[i];
          pi.PartitionStyle = platform::kPartitionStyleMbr;
          if (e.type == 0 || e.sectors == 0) continue;
          pi.StartingOffset = static_cast<int64_t>(uint64_t{e.start} * bps);
          pi.PartitionLength = static_cast<int64_t>(uint64_t{e.sectors} * bps);
          pi.PartitionNumber = ++number;
          pi.Mbr.PartitionType = e.type;
          pi.Mbr.BootIndicator = e.boot == 0x80;
          pi.Mbr.RecognizedPartition = KnownType(e.type);
          pi.Mbr.HiddenSectors = e.start;
        }
      } else {
        auto* layout = static_cast<platform::DriveLayoutInformation*>(out);
        layout->PartitionCount = entries;
        layout->Signature = mbr.signature;
        for (uint32_t i = 0; i < entries; ++i) {
          const Storage::MbrEntry& e = mbr.entries[i];
          platform::PartitionInformation& pi = layout->PartitionEntry[i];
          if (e.type == 0 || e.sectors == 0) continue;
          pi.StartingOffset = static_cast<int64_t>(uint64_t{e.start} * bps);
          pi.PartitionLength = static_cast<int64_t>(uint64_t{e.sectors} * bps);
          pi.HiddenSectors = e.start;
          pi.PartitionNumber = ++number;
          pi.PartitionType = e.type;
          pi.BootIndicator = e.boot == 0x80;
          pi.RecognizedPartition = KnownType(e.type);
        }
      }
      *returned = bytes;
      return true;
    }
    case platform::kIoctlDiskSetDriveLayout:
    case platform::kIoctlDiskSetDriveLayoutEx: {
      const bool ex = code == platform::kIoctlDiskSetDriveLayoutEx;
      if (in == nullptr || inSize < (ex ? 48u : 8u)) {
        *error = platform::kErrorInvalidParameter;
        return false;
      }
      uint32_t count = 0, signature = 0;
      if (ex) {
        platform::DriveLayoutInformationEx head;
        std::memcpy(&head, in, 48);
        if (head.PartitionStyle != platform::kPartitionStyleMbr) {
          *error = head.PartitionStyle == platform::kPartitionStyleGpt ? platform::kErrorNotSupported
                                                                       : platform::kErrorInvalidParameter;
          return false;
        }
        count = head.PartitionCount;
        signature = head.Mbr.Signature;
        if (count > 128 || inSize < platform::DriveLayoutExBytes(count)) {
          *error = platform::kErrorInvalidParameter;
          return false;
        }
      } else {
        std::memcpy(&count, in, 4);
        std::memcpy(&signature, static_cast<const uint8_t*>(in) + 4, 4);
        if (count > 128 || inSize < platform::DriveLayoutBytes(count)) {
          *error = platform::kErrorInvalidParameter;
          return false;
        }
      }
      Storage::Mbr old;
      if (!st.ReadMbr(p, drive, &old)) {
        *error = platform::kErrorIoDevice;
        return false;
      }
      std::array<Storage::MbrEntry, 4> table{};
      if (old.valid) table = old.entries;
      for (uint32_t i = 0; i < count; ++i) {
        int64_t start = 0, length = 0;
        uint8_t type = 0, boot = 0, rewrite = 0;
        if (ex) {
          platform::PartitionInformationEx pi;
          std::memcpy(&pi, static_cast<const uint8_t*>(in) + 48 + 144 * i, sizeof pi);
          start = pi.StartingOffset;
          length = pi.PartitionLength;
          type = pi.Mbr.PartitionType;
          boot = pi.Mbr.BootIndicator;
          rewrite = pi.RewritePartition;
          if (pi.PartitionStyle != platform::kPartitionStyleMbr) {
            *error = platform::kErrorInvalidParameter;
            return false;
          }
        } else {
          platform::PartitionInformation pi;
          std::memcpy(&pi, static_cast<const uint8_t*>(in) + 8 + 32 * i, sizeof pi);
          start = pi.StartingOffset;
          length = pi.PartitionLength;
          type = pi.PartitionType;
          boot = pi.BootIndicator;
          rewrite = pi.RewritePartition;
        }
        const bool used = type != 0 && length > 0;
        if (i >= 4) {
          if (used) {  // no extended partitions on the bench
            *error = platform::kErrorNotSupported;
            return false;
          }
          continue;
        }
        if (!rewrite && old.valid) continue;  // the entry stays as it is
        if (!used) {
          table[i] = {};
          continue;
        }
        if (start < 0 || start % bps != 0 || length % bps != 0 ||
            static_cast<uint64_t>(start + length) / bps > shape.sectors ||
            static_cast<uint64_t>(start) / bps > 0xFFFFFFFFu || static_cast<uint64_t>(length) / bps > 0xFFFFFFFFu) {
          *error = platform::kErrorInvalidParameter;
          return false;
        }
        table[i] = {static_cast<uint8_t>(boot ? 0x80 : 0), type, static_cast<uint32_t>(start / bps),
                    static_cast<uint32_t>(length / bps)};
      }
      // Partitions must not overlap.
      for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b) {
          const auto& x = table[a];
          const auto& y = table[b];
          if (x.sectors && y.sectors && x.start < uint64_t{y.start} + y.sectors && y.start < uint64_t{x.start} + x.sectors) {
            *error = platform::kErrorInvalidParameter;
            return false;
          }
        }
      if (fault(SystemOp::Layout, platform::kErrorIoDevice)) return false;
      if (!st.WriteMbrTable(p, drive, table, signature, old.valid)) {
        *error = platform::kErrorIoDevice;
        return false;
      }
      st.LayoutChanged(*this, p, drive);
      return true;
    }
    case platform::kIoctlDiskCreateDisk: {
      if (in == nullptr || inSize < sizeof(platform::CreateDisk)) {
        *error = platform::kErrorInvalidParameter;
        return false;
      }
      platform::CreateDisk request;
      std::memcpy(&request, in, sizeof request);
      if (request.PartitionStyle != platform::kPartitionStyleMbr) {
        *error = platform::kErrorNotSupported;
        return false;
      }
      if (fault(SystemOp::Layout, platform::kErrorIoDevice)) return false;
      if (!st.WriteMbrTable(p, drive, {}, request.MbrSignature, false)) {
        *error = platform::kErrorIoDevice;
        return false;
      }
      st.LayoutChanged(*this, p, drive);
      return true;
    }
    case platform::kIoctlDiskUpdateProperties:
      st.Reread(*this, p, drive);
      return true;
    case platform::kIoctlDiskGetPartitionInfo:
    case platform::kIoctlDiskGetPartitionInfoEx: {
      const bool ex = code == platform::kIoctlDiskGetPartitionInfoEx;
      Storage::MbrEntry part{0, 0, 0, static_cast<uint32_t>(std::min<uint64_t>(shape.sectors, 0xFFFFFFFFu))};
      uint32_t number = 0;
      if (volume) {
        if (!st.PartitionOf(p, drive, h.partition, &part)) {
          *error = platform::kErrorNotReady;
          return false;
        }
        number = h.partition;
      }
      const uint64_t sectors = volume ? part.sectors : shape.sectors;
      if (ex) {
        if (!Need(outSize, sizeof(platform::PartitionInformationEx), error)) return false;
        platform::PartitionInformationEx pi{};
        pi.PartitionStyle = platform::kPartitionStyleMbr;
        pi.StartingOffset = static_cast<int64_t>(uint64_t{part.start} * bps);
        pi.PartitionLength = static_cast<int64_t>(sectors * bps);
        pi.PartitionNumber = number;
        pi.Mbr.PartitionType = part.type;
        pi.Mbr.BootIndicator = part.boot == 0x80;
        pi.Mbr.RecognizedPartition = KnownType(part.type);
        pi.Mbr.HiddenSectors = part.start;
        std::memcpy(out, &pi, sizeof pi);
        *returned = sizeof pi;
      } else {
        if (!Need(outSize, sizeof(platform::PartitionInformation), error)) return false;
        platform::PartitionInformation pi{};
        pi.StartingOffset = static_cast<int64_t>(uint64_t{part.start} * bps);
        pi.PartitionLength = static_cast<int64_t>(sectors * bps);
        pi.HiddenSectors = part.start;
        pi.PartitionNumber = number;
        pi.PartitionType = part.type;
        pi.BootIndicator = part.boot == 0x80;
        pi.RecognizedPartition = KnownType(part.type);
        std::memcpy(out, &pi, sizeof pi);
        *returned = sizeof pi;
      }
      return true;
    }
    case platform::kIoctlDiskSetPartitionInfo:
    case platform::kIoctlDiskSetPartitionInfoEx: {
      const bool ex = code == platform::kIoctlDiskSetPartitionInfoEx;
      if (!volume || in == nullptr || inSize < (ex ? sizeof(platform::SetPartitionInformationEx) : 1u)) {
        *error = volume ? platform::kErrorInvalidParameter : platform::kErrorInvalidFunction;
        return false;
      }
      uint8_t type = 0;
      if (ex) {
        platform::SetPartitionInformationEx request;
        std::memcpy(&request, in, sizeof request);
        if (request.PartitionStyle != platform::kPartitionStyleMbr) {
          *error = platform::kErrorInvalidParameter;
          return false;
        }
        type = request.MbrPartitionType;
      } else {
        std::memcpy(&type, in, 1);
      }
      if (type == 0) {
        *error = platform::kErrorInvalidParameter;
        return false;
      }
      Storage::Mbr mbr;
      st.EnsureMbr(p, drive);
      if (!st.ReadMbr(p, drive, &mbr) || !mbr.valid) {
        *error = platform::kErrorInvalidParameter;
        return false;
      }
      uint32_t k = 0;
      for (auto& e : mbr.entries)
        if (e.type != 0 && e.sectors != 0 && ++k == h.partition) e.type = type;
      if (k < h.partition || !st.WriteMbrTable(p, drive, mbr.entries, mbr.signature, true)) {
        *error = platform::kErrorIoDevice;
        return false;
      }
      // A type change is no new layout: the volume stays.
      Storage::Mbr now;
      st.ReadMbr(p, drive, &now);
      st.drives[{p.index(), drive}].seenTable = now.table;
      return true;
    }
    case platform::kIoctlDiskVerify: {
      if (in == nullptr || inSize < 12) {
        *error = platform::kErrorInvalidParameter;
        return false;
      }
      platform::VerifyInformation request{};
      std::memcpy(&request, in, std::min<uint32_t>(inSize, sizeof request));
      uint64_t limit = shape.sectors * bps;
      Storage::MbrEntry part{};
      if (volume && st.PartitionOf(p, drive, h.partition, &part)) limit = uint64_t{part.sectors} * bps;
      // Offsets on a volume handle count from the partition's start.
      if (request.StartingOffset < 0 || static_cast<uint64_t>(request.StartingOffset) + request.Length > limit) {
        *error = platform::kErrorInvalidParameter;
        return false;
      }
      if (fault(SystemOp::Verify, platform::kErrorCrc)) return false;
      return true;
    }
    case platform::kFsctlLockVolume: {
      if (!volume) {
        *error = platform::kErrorInvalidFunction;
        return false;
      }
      const bool others = v->openHandles > 1 || (v->pins && v->pins.use_count() > 1) ||
                          (v->lockedBy != nullptr && v->lockedBy != &h);
      if (others) {
        *error = platform::kErrorAccessDenied;
        return false;
      }
      if (fault(SystemOp::Lock, platform::kErrorAccessDenied)) return false;
      v->lockedBy = &h;
      return true;
    }
    case platform::kFsctlUnlockVolume: {
      if (!volume) {
        *error = platform::kErrorInvalidFunction;
        return false;
      }
      if (v->lockedBy != &h) {
        *error = platform::kErrorNotLocked;
        return false;
      }
      if (fault(SystemOp::Unlock, platform::kErrorAccessDenied)) return false;
      v->lockedBy = nullptr;
      if (v->dismounted) st.Mount(*this, p, drive, h.partition, *v);
      return true;
    }
    case platform::kFsctlDismountVolume: {
      if (!volume) {
        *error = platform::kErrorInvalidFunction;
        return false;
      }
      if (fault(SystemOp::Dismount, platform::kErrorAccessDenied)) return false;
      v->configured = false;
      v->dismounted = true;
      // Mounted again at the next use after the lock is gone.
      if (v->lockedBy == nullptr) {
        // Nothing holds it: the next request mounts (VolumeOf does it).
      }
      return true;
    }
    default:
      *error = platform::kErrorInvalidParameter;
      return false;
  }
}

// ---- Volumes by letter: labels, formats, file views.

Bench::Storage::Volume* Bench::Storage::VolumeOfLetter(Bench& bench, char letter, Product** product, int* drive,
                                                       uint32_t* partition) {
  SettleLocked(bench);
  Product* p = bench.ProductOfLetter(letter, drive, partition);
  if (p == nullptr) return nullptr;
  *product = p;
  return &VolumeOf(bench, *p, *drive, *partition);
}

namespace {

bool FatLabelChar(char c) {
  return static_cast<unsigned char>(c) >= 0x20 && std::strchr("*?.,;:/\\|+=<>[]\"", c) == nullptr;
}

// 0 when the label suits the file system, else the last-error code.
uint32_t CheckLabel(const std::string& fileSystem, const std::string& label) {
  const bool fat = EqualNoCase(fileSystem, "FAT32") || EqualNoCase(fileSystem, "FAT");
  const size_t limit = EqualNoCase(fileSystem, "NTFS") ? 32 : 11;
  if (label.size() > limit) return platform::kErrorLabelTooLong;
  for (char c : label) {
    if (fat ? !FatLabelChar(c) : (static_cast<unsigned char>(c) < 0x20 || std::strchr("*?/\\|<>\"", c) != nullptr))
      return platform::kErrorInvalidLabel;
  }
  return 0;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

Bench::Storage::Volume* Bench::Storage::UsableVolumeOfLetter(Bench& bench, char letter, Product** product,
                                                             int* drive, uint32_t* partition, uint32_t* error) {
  Volume* v = VolumeOfLetter(bench, letter, product, drive, partition);
  if (v == nullptr) {
    *error = platform::kErrorPathNotFound;
    return nullptr;
  }
  if (v->lockedBy != nullptr) {
    *error = platform::kErrorAccessDenied;
    return nullptr;
  }
  if (!v->mounted) {
    *error = platform::kErrorUnrecognizedVolume;
    return nullptr;
  }
  return v;
}

bool Bench::Storage::SetLabel(Bench& bench, char letter, const std::string& label, uint32_t* error) {
  Product* p = nullptr;
  int drive = 0;
  uint32_t partition = 0;
  Volume* v = UsableVolumeOfLetter(bench, letter, &p, &drive, &partition, error);
  if (v == nullptr) return false;
  if (const uint32_t bad = CheckLabel(v->fileSystem, label)) {
    *error = bad;
    return false;
  }
  uint32_t faultError = 0;
  if (TakeFault(SystemOp::SetLabel, p->config().name, &faultError)) {
    *error = faultError ? faultError : platform::kErrorAccessDenied;
    return false;
  }
  const std::string text = v->fat ? Upper(label) : label;
  if (!v->configured && v->fat && v->labelSector != 0) {
    // FAT32 keeps it as the root folder's label entry and in the boot sector.
    const uint32_t bps = v->sectorSize;
    std::vector<uint8_t> dir(bps);
    if (!ReadSectors(*p, drive, v->labelSector, 1, dir.data())) {
      *error = platform::kErrorIoDevice;
      return false;
    }
    uint32_t slot = bps;
    for (uint32_t off = 0; off + 32 <= bps; off += 32) {
      const uint8_t* e = &dir[off];
      if (e[0] != 0 && e[0] != 0xE5 && e[11] != 0x0F && (e[11] & 0x08) && !(e[11] & 0x10)) {
        slot = off;
        break;
      }
      if ((e[0] == 0 || e[0] == 0xE5) && slot == bps) slot = off;
      if (e[0] == 0) break;
    }
    if (slot < bps) {
      uint8_t* e = &dir[slot];
      if (text.empty()) {
        if (e[11] & 0x08) e[0] = 0xE5;
      } else {
        std::memset(e, 0, 32);
        std::memset(e, ' ', 11);
        std::memcpy(e, text.data(), text.size());
        e[11] = 0x08;
      }
      WriteSectors(*p, drive, v->labelSector, 1, dir.data());
    }
    std::vector<uint8_t> bs(bps);
    for (uint64_t copy : {uint64_t{0}, uint64_t{6}}) {
      if (!ReadSectors(*p, drive, v->partStart + copy, 1, bs.data())) continue;
      std::memset(&bs[71], ' ', 11);
      std::memcpy(&bs[71], text.empty() ? "NO NAME" : text.c_str(), text.empty() ? 7 : text.size());
      WriteSectors(*p, drive, v->partStart + copy, 1, bs.data());
    }
  } else if (!v->configured) {
    recordedLabels[{p->index(), drive, v->serial}] = text;
  }
  v->label = text;
  return true;
}

bool Bench::SetVolumeLabel(char letter, const std::string& label, uint32_t* error) {
  std::lock_guard lock(storage().mutex);
  return storage().SetLabel(*this, letter, label, error);
}

int Bench::Storage::FormatVolume(Bench& bench, char letter, const std::string& fileSystem, const std::string& label,
                                 uint32_t clusterBytes, bool force, std::string* message) {
  Product* p = nullptr;
  int drive = 0;
  uint32_t partition = 0;
  Volume* v = VolumeOfLetter(bench, letter, &p, &drive, &partition);
  if (v == nullptr) {
    *message = "The system cannot find the drive specified.";
    return 4;
  }
  if (v->lockedBy != nullptr || (!force && (v->openHandles > 0 || v->pins.use_count() > 1))) {
    *message = "Format cannot run because the volume is in use by another process.";
    return 4;
  }
  const bool fat32 = EqualNoCase(fileSystem, "FAT32");
  const bool ntfs = EqualNoCase(fileSystem, "NTFS");
  const bool exfat = EqualNoCase(fileSystem, "exFAT");
  if (!fat32 && !ntfs && !exfat) {
    *message = "The file system does not exist or is not supported.";
    return 1;
  }
  MbrEntry part{};
  if (!PartitionOf(*p, drive, partition, &part)) {
    *message = "The volume does not contain a recognized partition.";
    return 4;
  }
  const DiskShape shape = Shape(*p, drive);
  const uint32_t bps = shape.sectorSize;
  const uint64_t bytes = uint64_t{part.sectors} * bps;
  if (clusterBytes == 0) {
    if (ntfs) clusterBytes = 4096;
    else if (fat32)
      clusterBytes = bytes <= (64ull << 20) ? 512 : bytes <= (128ull << 20) ? 1024 : bytes <= (256ull << 20) ? 2048
                   : bytes <= (8ull << 30) ? 4096 : bytes <= (16ull << 30) ? 8192 : 16384;
    else clusterBytes = bytes <= (256ull << 20) ? 4096 : 32768;
    clusterBytes = std::max(clusterBytes, bps);
  }
  if (!IsPowerOfTwo(clusterBytes) || clusterBytes < bps || clusterBytes > 65536) {
    *message = "The specified cluster size is invalid.";
    return 4;
  }
  if (fat32 && bytes > (32ull << 30)) {
    *message = "The volume is too big for FAT32.";
    return 4;
  }
  if (CheckLabel(fileSystem, label) != 0) {
    *message = "The volume label is not valid.";
    return 4;
  }
  uint32_t faultError = 0;
  if (TakeFault(SystemOp::Format, p->config().name, &faultError)) {
    *message = "The format failed.";
    return 4;
  }
  const uint32_t spc = clusterBytes / bps;
  uint32_t serial = 0;
  do {
    serial = static_cast<uint32_t>(NowMs() * 2654435761u) ^ (++serialCounter * 0x9E3779B9u) ^ v->serial;
  } while (serial == 0 || serial == v->serial);
  std::vector<uint8_t> bs(bps, 0);
  const std::string text = fat32 ? Upper(label) : label;
  uint8_t type = platform::kPartitionIfs;
  if (fat32) {
    const uint32_t total = part.sectors;
    const uint32_t reserved = 32;
    uint32_t fatSize = 1;
    uint64_t clusters = 0;
    for (;;) {
      clusters = (total - reserved - 2ull * fatSize) / spc;
      const uint64_t need = ((clusters + 2) * 4 + bps - 1) / bps;
      if (need <= fatSize) break;
      fatSize = static_cast<uint32_t>(need);
    }
    if (clusters < 65525) {
      *message = "The volume is too small for FAT32.";
      return 4;
    }
    bs[0] = 0xEB; bs[1] = 0x58; bs[2] = 0x90;
    std::memcpy(&bs[3], "MSDOS5.0", 8);
    Put16(&bs[11], static_cast<uint16_t>(bps));
    bs[13] = static_cast<uint8_t>(spc);
    Put16(&bs[14], static_cast<uint16_t>(reserved));
    bs[16] = 2;
    bs[21] = 0xF8;
    Put16(&bs[24], 63);
    Put16(&bs[26], 255);
    Put32(&bs[28], part.start);
    Put32(&bs[32], total);
    Put32(&bs[36], fatSize);
    Put32(&bs[44], 2);
    Put16(&bs[48], 1);
    Put16(&bs[50], 6);
    bs[64] = 0x80;
    bs[66] = 0x29;
    Put32(&bs[67], serial);
    std::memset(&bs[71], ' ', 11);
    std::memcpy(&bs[71], text.empty() ? "NO NAME" : text.c_str(), text.empty() ? 7 : text.size());
    std::memcpy(&bs[82], "FAT32   ", 8);
    bs[510] = 0x55; bs[511] = 0xAA;
    std::vector<uint8_t> info(bps, 0);
    Put32(&info[0], 0x41615252);
    Put32(&info[484], 0x61417272);
    Put32(&info[488], static_cast<uint32_t>(clusters - 1));
    Put32(&info[492], 3);
    Put32(&info[508], 0xAA550000);
    // The FATs (as far as they reach the first MiB each) and the root cluster.
    const uint64_t fatSectors = std::min<uint64_t>(fatSize, std::max<uint64_t>(1, (1u << 20) / bps));
    std::vector<uint8_t> zeros(fatSectors * bps, 0);
    std::vector<uint8_t> fat(zeros);
    Put32(&fat[0], 0x0FFFFFF8);
    Put32(&fat[4], 0x0FFFFFFF);
    Put32(&fat[8], 0x0FFFFFFF);
    std::vector<uint8_t> root(clusterBytes, 0);
    if (!text.empty()) {
      std::memset(&root[0], ' ', 11);
      std::memcpy(&root[0], text.data(), text.size());
      root[11] = 0x08;
    }
    const uint64_t s0 = part.start;
    bool ok = WriteSectors(*p, drive, s0, 1, bs.data()) && WriteSectors(*p, drive, s0 + 6, 1, bs.data()) &&
              WriteSectors(*p, drive, s0 + 1, 1, info.data()) && WriteSectors(*p, drive, s0 + 7, 1, info.data());
    for (uint32_t f = 0; f < 2 && ok; ++f)
      ok = WriteSectors(*p, drive, s0 + reserved + uint64_t{f} * fatSize, fatSectors, fat.data());
    ok = ok && WriteSectors(*p, drive, s0 + reserved + 2ull * fatSize, spc, root.data());
    if (!ok) {
      *message = "A disk write failed.";
      return 4;
    }
    type = platform::kPartitionFat32Xint13;
  } else {
    bs[0] = 0xEB; bs[1] = ntfs ? 0x52 : 0x76; bs[2] = 0x90;
    std::memcpy(&bs[3], ntfs ? "NTFS    " : "EXFAT   ", 8);
    if (ntfs) {
      Put16(&bs[11], static_cast<uint16_t>(bps));
      bs[13] = static_cast<uint8_t>(spc);
      Put32(&bs[0x48], serial);
    } else {
      Put32(&bs[100], serial);
    }
    bs[510] = 0x55; bs[511] = 0xAA;
    if (!WriteSectors(*p, drive, part.start, 1, bs.data())) {
      *message = "A disk write failed.";
      return 4;
    }
    recordedLabels[{p->index(), drive, serial}] = text;
  }
  // The format sets the partition's type as well.
  Mbr mbr;
  if (ReadMbr(*p, drive, &mbr) && mbr.valid) {
    uint32_t k = 0;
    for (auto& e : mbr.entries)
      if (e.type != 0 && e.sectors != 0 && ++k == partition) e.type = type;
    WriteMbrTable(*p, drive, mbr.entries, mbr.signature, true);
    ReadMbr(*p, drive, &mbr);
    drives[{p->index(), drive}].seenTable = mbr.table;
    drives[{p->index(), drive}].seenValid = true;
  }
  v->configured = false;
  Mount(bench, *p, drive, partition, *v);
  return v->mounted ? 0 : 4;
}

bool Bench::GetDriveFolder(char letter, DriveFolder* out, uint32_t* error) {
  Storage& st = storage();
  std::lock_guard lock(st.mutex);
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (letter == system_.windowsDrive) {
    out->hostPath = st.SystemFolder(system_);
    out->fatRules = false;
    out->pin.reset();
    if (out->hostPath.empty()) *error = platform::kErrorPathNotFound;
    return !out->hostPath.empty();
  }
  Product* p = nullptr;
  int drive = 0;
  uint32_t partition = 0;
  Storage::Volume* v = st.UsableVolumeOfLetter(*this, letter, &p, &drive, &partition, error);
  if (v == nullptr) return false;
  if (v->folder.empty() && !st.FreshFolder(*v)) {
    *error = platform::kErrorPathNotFound;
    return false;
  }
  out->hostPath = v->folder;
  out->fatRules = v->fat;
  out->pin = v->pins;
  return true;
}

std::string Bench::HostFolder(char letter) {
  DriveFolder folder;
  uint32_t error = 0;
  return GetDriveFolder(letter, &folder, &error) ? folder.hostPath : std::string();
}

std::string Bench::HostPathOf(const std::string& path) {
  std::lock_guard lock(storage().mutex);
  return HostPathOfLocked(path);
}

// Joins a '/'-separated tail to a host folder, taking each name without
// case when the exact one is not there (the system's file systems do).
std::string Bench::MatchPathNoCase(const std::string& host, const std::string& tail) {
  std::string out = host;
  size_t start = 0;
  while (start <= tail.size()) {
    size_t end = tail.find('/', start);
    if (end == std::string::npos) end = tail.size();
    std::string part = tail.substr(start, end - start);
    start = end + 1;
    if (part.empty()) {
      if (out.empty()) out = "/";
      continue;
    }
    const std::string folder = out.empty() ? "." : out;
    std::error_code error;
    if (!fs::exists(folder + "/" + part, error)) {
      for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator(); it.increment(error))
        if (EqualNoCase(it->path().filename().string(), part)) {
          part = it->path().filename().string();
          break;
        }
    }
    out += (out.empty() || out.back() == '/') ? part : "/" + part;
  }
  return out;
}

platform::WindowId Bench::AddWindow(const std::string& className, const std::string& title) {
  std::lock_guard lock(storage().mutex);
  const platform::WindowId id = storage().nextWindow++;
  storage().windows.push_back(MakeWindow(id, className, title));
  return id;
}

void Bench::ListWindows(std::vector<platform::WindowEntry>* out) {
  Settle();
  std::lock_guard lock(storage().mutex);
  *out = storage().windows;
}

bool Bench::PostWindowMessage(platform::WindowId window, uint32_t message, uintptr_t, intptr_t, uint32_t* error) {
  std::lock_guard lock(storage().mutex);
  auto& windows = storage().windows;
  auto it = std::find_if(windows.begin(), windows.end(), [&](const auto& w) { return w.id == window; });
  if (window == 0 || it == windows.end()) {
    *error = platform::kErrorInvalidWindowHandle;
    return false;
  }
  // The shell's prompt closes on WM_CLOSE; the taskbar ignores it.
  if (message == platform::kWmClose && std::strcmp(it->className, "Shell_TrayWnd") != 0) windows.erase(it);
  return true;
}

}  // namespace sim
