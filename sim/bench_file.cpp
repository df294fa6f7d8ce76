// Bench descriptions: a small text format of blocks.
//
//   # comment (also ';')
//   [product NAME]
//   chip = 21               ChipType of the bridge (1-34)
//   vid = 0x152d            numbers: decimal or 0x hex; sizes may end in K, M or G
//   flash.id = EF 40 14     byte lists: hex bytes separated by spaces
//   disk.model = "QV DISK"  texts: the rest of the line, quotes optional
//
// Every key has a default (ProductConfig), so "[product a]" alone is a product.
// A named file that cannot be read or describes nothing (no block) is an
// error, and the station does not run on another bench than the one named.
//
//   disk.image = /path/a.img   the disk's sparse image file (also disk2.image);
//                           absent: a temporary image that has no name in
//                           the temporary folder, so that it goes with the
//                           bench however the bench ends.
//                           A missing file is made; an existing one is used
//                           only when the bench made it (its last 512 bytes
//                           are the bench's mark): another file, a folder or
//                           a path that cannot be reached is an error, and
//                           so is an image that another drive already has
//
// Time, on the station clock (every key of a product has a default):
//
//   command_us = 150        each command's round trip, its data aside
//   disk.read_mbps = 400    disk throughput in MB/s (also disk.write_mbps,
//   disk.write_mbps = 350   disk2.*); absent or 0: what the USB link carries
//                           (full 1, high 40, super 400, superplus 800 MB/s)
//   flash.page_program_us = 400   SPI flash busy times, typical of a current
//   flash.sector_erase_ms = 45    SPI NOR part (the chip erase of a 1 MiB one);
//   flash.block_erase_ms = 150    a status write takes a page program's time;
//   flash.chip_erase_ms = 2000    0: none
//   flash.busy_reads = 3    status reads that answer busy after each operation
//                           besides its time
//
// Blocks:
//
//   [system]                the machine itself; at most one block, all optional
//   os = 10.0               version the system reports: major.minor (5.0 ... 10.0)
//   service_pack = 0        service-pack major number
//   windows_drive = C       drive of the Windows folder ("C:\Windows"); never a product
//   network = Z             letters of network drives (drive type remote)
//   system_disk = 1         the system's own disk is listed among the disk
//                           interfaces ("scsi#" path, disk number 0); default 0
//
//   [hub NAME]              a USB hub
//   parent = NAME           the hub it is plugged into; absent: a root hub
//   port = 2                its port on the parent; absent: the parent's lowest free port
//   ports = 4               number of ports (1-127); default 4
//   root = root_hub30       root hubs: the name the interface path holds (root_hub30,
//                           root_hub20, asmediausbd_hub, root_hub_fl30, tiusbd_hub,
//                           via_root_hub, root_hub); default root_hub30
//   speed = high            fastest link the hub's ports give: low, full, high, super,
//                           superplus. Defaults: root_hub30 superplus, root_hub20 high,
//                           root_hub full, other root hubs super; an external hub
//                           its parent's speed but at most super
//   vid, pid                an external hub's USB ids (default 0x05E3 / 0x0610)
//
//   [product NAME]          a bridge with its disk (keys above), and where it sits:
//   hub = NAME              its hub; absent: the hub named "root" (made when no
//                           block declares it: a root_hub30 root hub with as many
//                           ports as needed, at least 4)
//   port = 3                its port; absent: the hub's lowest free port, in file order
//   speed = super           negotiated speed, capped by the hub: low, full, high,
//                           super, superplus. Default: super for ChipTypes 13 and
//                           19-28, else high
//   serial =                an empty USB serial: the device has no serial string
//                           (string index 0), its instance ids are location ids
//   languages = 0409        language table (hex words); empty: a table without ids
//   uas = 1                 driven by the UAS driver: "scsi#disk&..." interface path,
//                           "SCSI\DISK&VEN_..&PROD_..\..." device node
//   cdrom = 1               the product's interface is of the CD-ROM class
//                           ("usbstor#cdrom&...", device type CD-ROM)
//   letters = EF            drive letters of the volumes on the (first) drive; absent:
//                           the next free letter from D in file order; "-" or empty: none
//   disk2.letters = G       letters of the volumes on the bridge's second drive
//   volume.fs = NTFS        file system of the product's volumes; "-" or empty: raw
//   volume.label = DATA     volume label
//   volume.type = fixed     drive type: fixed, removable or cdrom
//   volume.free = 1G        free bytes (default: 90 % of the disk)
//   ufs = 1                 the medium is a UFS device, not an ATA drive (disk.* give
//                           its size); ufs.enabled = 0 starts with its unit disabled,
//                           ufs.enable_after_reset = 1 makes an enable wait for the next
//                           reset, ufs.write_protect = 1, ufs.ref_clock = 0..3
//   reset_new_path = 1      after a reset the product comes back with a new instance
//                           suffix and interface path ("...#SERIAL&1#..." after the
//                           first reset); default 0: the same path
//   plug_at_ms = 30000      station milliseconds after the bench was made at which
//   pull_at_ms = 10000 60000  the product is plugged in / pulled out while the
//                           station runs (each with the system's notices); a product
//                           whose first event is a plug starts off the bus. The
//                           events happen when a window of the program looks for
//                           its messages
//
//   [device NAME]           a USB device that is not storage (a mouse, the
//                           power-control box of the Type-C mode)
//   hub, port, speed        as for products; speed defaults to full
//   vid, pid, manufacturer, product, serial, languages
//   class = 3               bDeviceClass of its device descriptor (default 0)
//
// Hubs are listed in file order (a default root hub, when made, first); a
// hub's `parent` must be declared before it. A port holds one product, device
// or hub; explicit ports are taken before free ones are handed out. An old
// file of only [product] blocks puts the products on ports 1, 2, ... of the
// default root hub.
//
// At run time: an unplugged product, or one inside its reset window, reads
// "no device connected" on its port and leaves the interface lists, the
// device tree and the drive letters; with reset_new_path its old handles
// fail once it is back. Bench::SetDriveQueryHook changes drives during a
// letter pass (called before each logical-drive query is answered).
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/volumes.h"
#include "sim/bench.h"
#include "sim/embedded_bench.h"

namespace sim {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t* out) {
  text = Trim(text);
  uint64_t multiplier = 1;
  if (!text.empty()) {
    switch (std::toupper(static_cast<unsigned char>(text.back()))) {
      case 'K': multiplier = 1024; break;
      case 'M': multiplier = 1024 * 1024; break;
      case 'G': multiplier = 1024ull * 1024 * 1024; break;
      default: break;
    }
    if (multiplier != 1) text.remove_suffix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (value > max / multiplier) return false;
  *out = value * multiplier;
  return *out <= max;
}

bool ParseBytes(std::string_view text, std::vector<uint8_t>* out) {
  out->clear();
  std::istringstream in{std::string(text)};
  std::string token;
  while (in >> token) {
    uint8_t byte = 0;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), byte, 16);
    if (ec != std::errc() || end != token.data() + token.size() || token.size() > 2) return false;
    out->push_back(byte);
  }
  return true;
}

std::string Unquote(std::string_view text) {
  text = Trim(text);
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
    text = text.substr(1, text.size() - 2);
  return std::string(text);
}

// Hex words: "0409 0407".
bool ParseWords(std::string_view text, std::vector<uint16_t>* out) {
  out->clear();
  std::istringstream in{std::string(text)};
  std::string token;
  while (in >> token) {
    uint16_t word = 0;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), word, 16);
    if (ec != std::errc() || end != token.data() + token.size() || token.size() > 4) return false;
    out->push_back(word);
  }
  return true;
}

bool ValidLetters(std::string_view letters) {
  if (letters == "-") return true;
  std::string seen;
  for (char c : letters) {
    const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (u < 'A' || u > 'Z' || seen.find(u) != std::string::npos) return false;
    seen.push_back(u);
  }
  return true;
}

bool ValidSpeed(std::string_view speed) {
  for (std::string_view s : {"low", "full", "high", "super", "superplus"})
    if (speed == s) return true;
  return false;
}

bool ParseDriveType(std::string_view text, uint32_t* out) {
  const std::string v = Unquote(text);
  if (v == "fixed") *out = platform::kDriveFixed;
  else if (v == "removable") *out = platform::kDriveRemovable;
  else if (v == "cdrom") *out = platform::kDriveCdRom;
  else return false;
  return true;
}

using Setter = std::function<bool(ProductConfig&, std::string_view)>;

template <class T>
Setter Number(T ProductConfig::*field, uint64_t max = static_cast<uint64_t>(static_cast<T>(~T{}))) {
  return [field, max](ProductConfig& c, std::string_view v) {
    uint64_t n = 0;
    if (!ParseUnsigned(v, max, &n)) return false;
    c.*field = static_cast<T>(n);
    return true;
  };
}

template <class Sub, class T>
Setter SubNumber(Sub ProductConfig::*sub, T Sub::*field,
                 uint64_t max = static_cast<uint64_t>(static_cast<T>(~T{}))) {
  return [sub, field, max](ProductConfig& c, std::string_view v) {
    uint64_t n = 0;
    if (!ParseUnsigned(v, max, &n)) return false;
    (c.*sub).*field = static_cast<T>(n);
    return true;
  };
}

Setter Text(std::string ProductConfig::*field) {
  return [field](ProductConfig& c, std::string_view v) {
    c.*field = Unquote(v);
    return true;
  };
}

template <class Sub>
Setter SubText(Sub ProductConfig::*sub, std::string Sub::*field) {
  return [sub, field](ProductConfig& c, std::string_view v) {
    (c.*sub).*field = Unquote(v);
    return true;
  };
}

template <class Sub>
Setter SpeedText(Sub ProductConfig::*sub, std::string Sub::*field) {
  return [sub, field](ProductConfig& c, std::string_view v) {
    (c.*sub).*field = Unquote(v);
    return ValidSpeed((c.*sub).*field);
  };
}

Setter Flag(bool ProductConfig::*field) {
  return [field](ProductConfig& c, std::string_view v) {
    uint64_t n = 0;
    if (!ParseUnsigned(v, 1, &n)) return false;
    c.*field = n != 0;
    return true;
  };
}

template <class Sub>
Setter SubFlag(Sub ProductConfig::*sub, bool Sub::*field) {
  return [sub, field](ProductConfig& c, std::string_view v) {
    uint64_t n = 0;
    if (!ParseUnsigned(v, 1, &n)) return false;
    (c.*sub).*field = n != 0;
    return true;
  };
}

// Station milliseconds: "30000 90000".
Setter Times(std::vector<uint32_t> ProductConfig::*field) {
  return [field](ProductConfig& c, std::string_view v) {
    (c.*field).clear();
    std::istringstream in{std::string(v)};
    std::string token;
    while (in >> token) {
      uint64_t ms = 0;
      if (!ParseUnsigned(token, UINT32_MAX, &ms)) return false;
      (c.*field).push_back(static_cast<uint32_t>(ms));
    }
    return true;
  };
}

Setter Bytes(std::vector<uint8_t> ProductConfig::*field) {
  return [field](ProductConfig& c, std::string_view v) { return ParseBytes(v, &(c.*field)); };
}

struct Key {
  const char* name;
  Setter set;
};

const std::vector<Key>& Keys() {
  static const std::vector<Key> keys = {
      {"path", Text(&ProductConfig::path)},
      {"chip", Number(&ProductConfig::chipType, 34)},
      {"vid", Number(&ProductConfig::vid)},
      {"pid", Number(&ProductConfig::pid)},
      {"manufacturer", Text(&ProductConfig::manufacturer)},
      {"product", Text(&ProductConfig::product)},
      {"serial", Text(&ProductConfig::usbSerial)},
      {"inquiry.vendor", Text(&ProductConfig::inquiryVendor)},
      {"inquiry.product", Text(&ProductConfig::inquiryProduct)},
      {"inquiry.revision", Text(&ProductConfig::inquiryRevision)},
      {"revision_text", Text(&ProductConfig::revisionText)},
      {"firmware_version", Bytes(&ProductConfig::firmwareVersion)},
      {"info_version", Bytes(&ProductConfig::infoVersion)},
      {"boot_code_only", Flag(&ProductConfig::bootCodeOnly)},
      {"inquiry.chip_code", Flag(&ProductConfig::chipCodeInInquiry)},
      {"foreign", Flag(&ProductConfig::foreignBridge)},
      {"internal_code", Flag(&ProductConfig::internalCode)},
      {"bank_select", Flag(&ProductConfig::bankSelect)},
      {"usb3", Flag(&ProductConfig::usb3Enabled)},
      {"config_memory", Number(&ProductConfig::configMemorySize, 16u << 20)},
      {"config_eeprom", Flag(&ProductConfig::configEepromPresent)},
      {"boot_rom", Flag(&ProductConfig::bootRom)},
      {"chip_revision",
       [](ProductConfig& c, std::string_view v) {
         if (v.size() != 1 || v[0] < '0' || v[0] > '9') return false;
         c.revisionDigit = v[0];
         return true;
       }},
      {"buffer1_bank", Number(&ProductConfig::buffer1Bank, 1)},
      {"bank_checksums", Flag(&ProductConfig::checkBankChecksums)},
      {"reset_delay_ms", Number(&ProductConfig::resetDelayMs, 600000)},
      {"plug_at_ms", Times(&ProductConfig::plugAtMs)},
      {"pull_at_ms", Times(&ProductConfig::pullAtMs)},
      {"command_us", Number(&ProductConfig::commandUs, 10000000)},
      {"flash", SubFlag(&ProductConfig::flash, &FlashConfig::present)},
      {"flash.id",
       [](ProductConfig& c, std::string_view v) { return ParseBytes(v, &c.flash.jedecId); }},
      {"flash.size", SubNumber(&ProductConfig::flash, &FlashConfig::size, 256u << 20)},
      {"flash.sector", SubNumber(&ProductConfig::flash, &FlashConfig::sectorSize, 1u << 20)},
      {"flash.block", SubNumber(&ProductConfig::flash, &FlashConfig::blockSize, 1u << 20)},
      {"flash.page_program_us", SubNumber(&ProductConfig::flash, &FlashConfig::pageProgramUs, 1000000)},
      {"flash.sector_erase_ms", SubNumber(&ProductConfig::flash, &FlashConfig::sectorEraseMs, 60000)},
      {"flash.block_erase_ms", SubNumber(&ProductConfig::flash, &FlashConfig::blockEraseMs, 60000)},
      {"flash.chip_erase_ms", SubNumber(&ProductConfig::flash, &FlashConfig::chipEraseMs, 600000)},
      {"flash.busy_reads", SubNumber(&ProductConfig::flash, &FlashConfig::busyStatusReads, 100000)},
      {"flash.status", SubNumber(&ProductConfig::flash, &FlashConfig::status)},
      {"flash.signature", SubNumber(&ProductConfig::flash, &FlashConfig::signature, 255)},
      {"flash.code", SubNumber(&ProductConfig::flash, &FlashConfig::typeCode, 255)},
      {"flash.command_set", SubNumber(&ProductConfig::flash, &FlashConfig::commandSet, 1)},
      {"disk", SubFlag(&ProductConfig::disk, &DiskConfig::present)},
      {"disk.packet", SubFlag(&ProductConfig::disk, &DiskConfig::packetDevice)},
      {"disk.sectors", SubNumber(&ProductConfig::disk, &DiskConfig::sectors, 1ull << 40)},
      {"disk.sector_size", SubNumber(&ProductConfig::disk, &DiskConfig::sectorSize, 4096)},
      {"disk.reserved_sectors",
       SubNumber(&ProductConfig::disk, &DiskConfig::reservedSectors, 1ull << 32)},
      {"disk.model", SubText(&ProductConfig::disk, &DiskConfig::model)},
      {"disk.serial", SubText(&ProductConfig::disk, &DiskConfig::serial)},
      {"disk.firmware", SubText(&ProductConfig::disk, &DiskConfig::firmware)},
      {"disk.image", SubText(&ProductConfig::disk, &DiskConfig::imagePath)},
      {"disk.read_mbps", SubNumber(&ProductConfig::disk, &DiskConfig::readMBps, 100000)},
      {"disk.write_mbps", SubNumber(&ProductConfig::disk, &DiskConfig::writeMBps, 100000)},
      {"disk2", SubFlag(&ProductConfig::disk2, &DiskConfig::present)},
      {"disk2.packet", SubFlag(&ProductConfig::disk2, &DiskConfig::packetDevice)},
      {"disk2.sectors", SubNumber(&ProductConfig::disk2, &DiskConfig::sectors, 1ull << 40)},
      {"disk2.sector_size", SubNumber(&ProductConfig::disk2, &DiskConfig::sectorSize, 4096)},
      {"disk2.reserved_sectors",
       SubNumber(&ProductConfig::disk2, &DiskConfig::reservedSectors, 1ull << 32)},
      {"disk2.model", SubText(&ProductConfig::disk2, &DiskConfig::model)},
      {"disk2.serial", SubText(&ProductConfig::disk2, &DiskConfig::serial)},
      {"disk2.firmware", SubText(&ProductConfig::disk2, &DiskConfig::firmware)},
      {"disk2.image", SubText(&ProductConfig::disk2, &DiskConfig::imagePath)},
      {"disk2.read_mbps", SubNumber(&ProductConfig::disk2, &DiskConfig::readMBps, 100000)},
      {"disk2.write_mbps", SubNumber(&ProductConfig::disk2, &DiskConfig::writeMBps, 100000)},
      {"ufs", SubFlag(&ProductConfig::ufs, &UfsConfig::present)},
      {"ufs.enabled", SubFlag(&ProductConfig::ufs, &UfsConfig::enabled)},
      {"ufs.enable_after_reset", SubFlag(&ProductConfig::ufs, &UfsConfig::enableAfterReset)},
      {"ufs.write_protect", SubFlag(&ProductConfig::ufs, &UfsConfig::writeProtected)},
      {"ufs.ref_clock", SubNumber(&ProductConfig::ufs, &UfsConfig::referenceClock, 3)},
      {"hub", SubText(&ProductConfig::placement, &PlacementConfig::hub)},
      {"port", SubNumber(&ProductConfig::placement, &PlacementConfig::port, 127)},
      {"speed", SpeedText(&ProductConfig::placement, &PlacementConfig::speed)},
      {"languages",
       [](ProductConfig& c, std::string_view v) { return ParseWords(v, &c.placement.languages); }},
      {"uas", SubFlag(&ProductConfig::placement, &PlacementConfig::uas)},
      {"cdrom", SubFlag(&ProductConfig::placement, &PlacementConfig::cdrom)},
      {"reset_new_path", SubFlag(&ProductConfig::placement, &PlacementConfig::resetNewPath)},
      {"letters",
       [](ProductConfig& c, std::string_view v) {
         c.volume.autoLetter = false;
         c.volume.letters = Unquote(v);
         return ValidLetters(c.volume.letters);
       }},
      {"disk2.letters",
       [](ProductConfig& c, std::string_view v) {
         c.volume.letters2 = Unquote(v);
         return ValidLetters(c.volume.letters2);
       }},
      {"volume.fs", SubText(&ProductConfig::volume, &VolumeConfig::fileSystem)},
      {"volume.label", SubText(&ProductConfig::volume, &VolumeConfig::label)},
      {"volume.type",
       [](ProductConfig& c, std::string_view v) { return ParseDriveType(v, &c.volume.driveType); }},
      {"volume.free", SubNumber(&ProductConfig::volume, &VolumeConfig::freeBytes, 1ull << 50)},
  };
  return keys;
}

template <class T>
struct SectionKey {
  const char* name;
  std::function<bool(T&, std::string_view)> set;
};

template <class T, class F>
SectionKey<T> NumberKey(const char* name, F T::*field, uint64_t max) {
  return {name, [field, max](T& t, std::string_view v) {
            uint64_t n = 0;
            if (!ParseUnsigned(v, max, &n)) return false;
            t.*field = static_cast<F>(n);
            return true;
          }};
}

template <class T>
SectionKey<T> TextKey(const char* name, std::string T::*field) {
  return {name, [field](T& t, std::string_view v) {
            t.*field = Unquote(v);
            return true;
          }};
}

template <class T>
SectionKey<T> SpeedKey(const char* name, std::string T::*field) {
  return {name, [field](T& t, std::string_view v) {
            t.*field = Unquote(v);
            return ValidSpeed(t.*field);
          }};
}

const std::vector<SectionKey<HubConfig>>& HubKeys() {
  static const std::vector<SectionKey<HubConfig>> keys = {
      TextKey("parent", &HubConfig::parent),
      NumberKey("port", &HubConfig::port, 127),
      NumberKey("ports", &HubConfig::ports, 127),
      TextKey("root", &HubConfig::rootName),
      SpeedKey("speed", &HubConfig::speed),
      NumberKey("vid", &HubConfig::vid, 0xFFFF),
      NumberKey("pid", &HubConfig::pid, 0xFFFF),
  };
  return keys;
}

const std::vector<SectionKey<UsbDeviceConfig>>& DeviceKeys() {
  static const std::vector<SectionKey<UsbDeviceConfig>> keys = {
      TextKey("hub", &UsbDeviceConfig::hub),
      NumberKey("port", &UsbDeviceConfig::port, 127),
      SpeedKey("speed", &UsbDeviceConfig::speed),
      NumberKey("vid", &UsbDeviceConfig::vid, 0xFFFF),
      NumberKey("pid", &UsbDeviceConfig::pid, 0xFFFF),
      TextKey("manufacturer", &UsbDeviceConfig::manufacturer),
      TextKey("product", &UsbDeviceConfig::product),
      TextKey("serial", &UsbDeviceConfig::serial),
      {"languages", [](UsbDeviceConfig& d, std::string_view v) { return ParseWords(v, &d.languages); }},
      NumberKey("class", &UsbDeviceConfig::deviceClass, 0xFF),
  };
  return keys;
}

const std::vector<SectionKey<SystemConfig>>& SystemKeys() {
  static const std::vector<SectionKey<SystemConfig>> keys = {
      {"os",
       [](SystemConfig& s, std::string_view v) {
         v = Trim(v);
         const size_t dot = v.find('.');
         if (dot == std::string_view::npos) return false;
         uint64_t major = 0, minor = 0;
         if (!ParseUnsigned(v.substr(0, dot), 99, &major) || !ParseUnsigned(v.substr(dot + 1), 99, &minor))
           return false;
         s.osMajor = static_cast<uint32_t>(major);
         s.osMinor = static_cast<uint32_t>(minor);
         return true;
       }},
      NumberKey("service_pack", &SystemConfig::servicePack, 0xFFFF),
      {"windows_drive",
       [](SystemConfig& s, std::string_view v) {
         const std::string letter = Unquote(v);
         if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0]))) return false;
         s.windowsDrive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
         return true;
       }},
      {"network",
       [](SystemConfig& s, std::string_view v) {
         s.networkLetters = Unquote(v);
         return ValidLetters(s.networkLetters);
       }},
      {"system_disk",
       [](SystemConfig& s, std::string_view v) {
         uint64_t n = 0;
         if (!ParseUnsigned(v, 1, &n)) return false;
         s.systemDisk = n != 0;
         return true;
       }},
  };
  return keys;
}

template <class T>
bool SetKey(const std::vector<SectionKey<T>>& keys, T& target, std::string_view key,
            std::string_view value, bool* known) {
  for (const auto& k : keys)
    if (key == k.name) {
      *known = true;
      return k.set(target, value);
    }
  *known = false;
  return false;
}

// Whether the text opens any block ("[...]" outside comments).
bool HasBlock(std::string_view text) {
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    if (const std::string_view line = Trim(text.substr(0, eol)); !line.empty() && line.front() == '[')
      return true;
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
  }
  return false;
}

}  // namespace

std::string_view Bench::EmbeddedText() { return EmbeddedBenchText(); }

namespace {

// The product (and its drive) whose disk the last product's newly named
// image already is, or "": two drives on one image would write over each
// other. Names that lead to the same file count as one.
std::string ImageOwner(const BenchConfig& config, bool secondDrive) {
  const ProductConfig& last = config.products.back();
  const std::string& named = secondDrive ? last.disk2.imagePath : last.disk.imagePath;
  if (named.empty()) return {};
  std::error_code ec;
  const std::filesystem::path image = std::filesystem::weakly_canonical(named, ec);
  for (const ProductConfig& p : config.products) {
    for (const bool second : {false, true}) {
      if (&p == &last && second == secondDrive) continue;
      const std::string& other = second ? p.disk2.imagePath : p.disk.imagePath;
      if (other.empty() || std::filesystem::weakly_canonical(other, ec) != image) continue;
      return "product '" + p.name + "'" + (second ? " (disk2)" : "");
    }
  }
  return {};
}

}  // namespace

bool Bench::ParseText(std::string_view text, std::vector<ProductConfig>* products,
                      std::string* error) {
  BenchConfig config;
  const bool ok = ParseText(text, &config, error);
  *products = std::move(config.products);
  return ok;
}

bool Bench::ParseText(std::string_view text, BenchConfig* config, std::string* error) {
  *config = BenchConfig{};
  enum class Section { None, System, Hub, Product, Device } section = Section::None;
  bool sawSystem = false;
  int lineNumber = 0;
  auto fail = [&](const std::string& why) {
    if (error) *error = "bench line " + std::to_string(lineNumber) + ": " + why;
    return false;
  };
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    ++lineNumber;
    line = Trim(line);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return fail("unclosed section");
      std::string_view inner = Trim(line.substr(1, line.size() - 2));
      const size_t space = inner.find_first_of(" \t");
      const std::string_view kind = inner.substr(0, space);
      const std::string name(space == std::string_view::npos ? std::string_view() : Trim(inner.substr(space)));
      if (kind == "product") {
        ProductConfig product;
        product.name = name.empty() ? "product" + std::to_string(config->products.size() + 1) : name;
        for (const ProductConfig& other : config->products)
          if (other.name == product.name) return fail("duplicate product '" + product.name + "'");
        config->products.push_back(product);
        section = Section::Product;
      } else if (kind == "hub") {
        if (name.empty()) return fail("a hub needs a name");
        for (const HubConfig& other : config->hubs)
          if (other.name == name) return fail("duplicate hub '" + name + "'");
        config->hubs.push_back(HubConfig{});
        config->hubs.back().name = name;
        section = Section::Hub;
      } else if (kind == "device") {
        UsbDeviceConfig device;
        device.name = name.empty() ? "device" + std::to_string(config->devices.size() + 1) : name;
        for (const UsbDeviceConfig& other : config->devices)
          if (other.name == device.name) return fail("duplicate device '" + device.name + "'");
        config->devices.push_back(device);
        section = Section::Device;
      } else if (kind == "system" && name.empty()) {
        if (sawSystem) return fail("a second [system] block");
        sawSystem = true;
        section = Section::System;
      } else {
        return fail("unknown section '" + std::string(inner) + "'");
      }
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected key = value");
    if (section == Section::None) return fail("key outside a [product] block");
    const std::string_view key = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    bool known = false, ok = false;
    switch (section) {
      case Section::Product:
        for (const Key& k : Keys())
          if (key == k.name) {
            known = true;
            ok = k.set(config->products.back(), value);
          }
        break;
      case Section::Hub: ok = SetKey(HubKeys(), config->hubs.back(), key, value, &known); break;
      case Section::Device: ok = SetKey(DeviceKeys(), config->devices.back(), key, value, &known); break;
      case Section::System: ok = SetKey(SystemKeys(), config->system, key, value, &known); break;
      case Section::None: break;
    }
    if (!known) return fail("unknown key '" + std::string(key) + "'");
    if (!ok) return fail("bad value '" + std::string(value) + "' for " + std::string(key));
    if (section == Section::Product && (key == "disk.image" || key == "disk2.image")) {
      const std::string owner = ImageOwner(*config, key == "disk2.image");
      if (!owner.empty()) return fail(std::string(key) + " " + std::string(value) + " is the disk of " + owner + " already");
    }
  }
  for (const ProductConfig& p : config->products) {
    if (p.chipType < 1) return fail("product '" + p.name + "': chip must be 1-34");
    if (p.disk.sectorSize != 512 && p.disk.sectorSize != 4096)
      return fail("product '" + p.name + "': disk.sector_size must be 512 or 4096");
  }
  if (std::string why = CheckTopology(*config); !why.empty()) {
    if (error) *error = "bench: " + why;
    return false;
  }
  return true;
}

std::shared_ptr<Bench> Bench::FromText(std::string_view text, std::string* error) {
  BenchConfig config;
  if (!ParseText(text, &config, error)) return nullptr;
  try {
    return std::make_shared<Bench>(config);
  } catch (const std::invalid_argument& e) {
    if (error) *error = std::string("bench: ") + e.what();
    return nullptr;
  }
}

std::shared_ptr<Bench> Bench::FromFile(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = "bench file " + path + ": " + why;
    return nullptr;
  };
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return fail("is a folder");
  // A pipe must not hold the start-up, nor a device fill the memory.
  std::string text;
  switch (platform::ReadRegularFile(path.c_str(), kMaxBenchFileSize, &text)) {
    case platform::FileRead::kRead: break;
    case platform::FileRead::kNotRegular: return fail("is not a regular file");
    case platform::FileRead::kTooLarge: return fail("is larger than " + std::to_string(kMaxBenchFileSize) + " bytes");
    case platform::FileRead::kMissing:
    case platform::FileRead::kFailed: return fail(std::string("cannot be read (") + std::strerror(errno) + ")");
  }
  // A named bench that describes nothing is a mistake, not a station with
  // nothing attached.
  if (!HasBlock(text)) return fail("describes no bench");
  std::string why;
  auto bench = FromText(text, &why);
  if (!bench) return fail(why);
  return bench;
}

std::shared_ptr<Bench> Bench::CreateDefault() {
  std::string error;
  if (const char* file = std::getenv("KESTROVA_BENCH"); file != nullptr && *file != '\0') {
    if (auto bench = FromFile(file, &error)) return bench;
    // A station must not run on another bench than the one it was given.
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(EXIT_FAILURE);
  }
  return FromText(EmbeddedText(), &error);
}

}  // namespace sim
