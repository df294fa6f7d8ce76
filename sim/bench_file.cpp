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
//                           superplus. Defaults: root_hub30 superplus, root_hub full,
//                           other root hubs super, an external hub its parent's
//                           speed but at most super
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
//   reset_new_path = 1      after a reset the product comes back with a new instance
//                           suffix and interface path ("...#SERIAL&1#..." after the
//                           first reset); default 0: the same path
//
//   [device NAME]           a USB device that is not storage (a mouse, the
//                           power-control box of the Type-C mode)
//   hub, port, speed        as for products; speed defaults to full
//   vid, pid, manufacturer, product, serial, languages
//   class = 3               bDeviceClass of its device descriptor (default 0)
//
// Hubs are walked in file order; a hub's `parent` must be declared before it.
// A port holds one product, device or hub. An old file of only [product] blocks
// puts the products on ports 1, 2, ... of the default root hub.
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "sim/bench.h"

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
      {"reset_delay_ms", Number(&ProductConfig::resetDelayMs, 600000)},
      {"flash", SubFlag(&ProductConfig::flash, &FlashConfig::present)},
      {"flash.id",
       [](ProductConfig& c, std::string_view v) { return ParseBytes(v, &c.flash.jedecId); }},
      {"flash.size", SubNumber(&ProductConfig::flash, &FlashConfig::size, 256u << 20)},
      {"flash.sector", SubNumber(&ProductConfig::flash, &FlashConfig::sectorSize, 1u << 20)},
      {"flash.block", SubNumber(&ProductConfig::flash, &FlashConfig::blockSize, 1u << 20)},
      {"flash.program_busy_ms", SubNumber(&ProductConfig::flash, &FlashConfig::programBusyMs, 60000)},
      {"flash.erase_busy_ms", SubNumber(&ProductConfig::flash, &FlashConfig::eraseBusyMs, 60000)},
      {"flash.chip_erase_busy_ms",
       SubNumber(&ProductConfig::flash, &FlashConfig::chipEraseBusyMs, 600000)},
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
  };
  return keys;
}

constexpr std::string_view kEmbeddedBench = R"(# The embedded bench: products of different chip families, no file needed.
[product port1]
chip = 4
vid = 0x1D6B
pid = 0x0649
serial = 4A0000000001
flash.id = EF 30 13
flash.size = 512K
disk.model = "KV SIM HDD 500"
disk.serial = "KVH000000001"
disk.sectors = 976773168

[product port2]
chip = 13
vid = 0x1D6B
pid = 0x0857
serial = 4D0000000002
flash.id = C2 20 13
flash.size = 512K
disk.model = "KV SIM SSD 256"
disk.serial = "KVS000000002"
disk.sectors = 500118192

[product port3]
chip = 21
vid = 0x1D6B
pid = 0x0871
serial = 570000000003
flash.id = EF 40 14
flash.size = 1M
disk.model = "KV SIM SSD 1T"
disk.serial = "KVS000000003"
disk.sectors = 1953525168

[product port4]
chip = 25
vid = 0x1D6B
pid = 0x0887
serial = 5B0000000004
flash.id = C8 40 14
flash.size = 1M
disk.model = "KV SIM HDD 4K"
disk.serial = "KVH000000004"
disk.sector_size = 4096
disk.sectors = 244190646

[product port5]
chip = 29
vid = 0x1D6B
pid = 0x0646
serial = 460000000005
flash.id = BF 25 8D
flash.size = 512K
disk.model = "KV SIM SSD 128"
disk.serial = "KVS000000005"
disk.sectors = 250069680
)";

}  // namespace

std::string_view Bench::EmbeddedText() { return kEmbeddedBench; }

bool Bench::ParseText(std::string_view text, std::vector<ProductConfig>* products,
                      std::string* error) {
  products->clear();
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
      if (inner.substr(0, 7) != "product") return fail("unknown section '" + std::string(inner) + "'");
      ProductConfig product;
      product.name = std::string(Trim(inner.substr(7)));
      if (product.name.empty()) product.name = "product" + std::to_string(products->size() + 1);
      for (const ProductConfig& other : *products)
        if (other.name == product.name) return fail("duplicate product '" + product.name + "'");
      products->push_back(product);
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected key = value");
    if (products->empty()) return fail("key outside a [product] block");
    const std::string_view key = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    const Key* found = nullptr;
    for (const Key& k : Keys())
      if (key == k.name) found = &k;
    if (found == nullptr) return fail("unknown key '" + std::string(key) + "'");
    if (!found->set(products->back(), value))
      return fail("bad value '" + std::string(value) + "' for " + std::string(key));
  }
  for (const ProductConfig& p : *products) {
    if (p.chipType < 1) return fail("product '" + p.name + "': chip must be 1-34");
    if (p.disk.sectorSize != 512 && p.disk.sectorSize != 4096)
      return fail("product '" + p.name + "': disk.sector_size must be 512 or 4096");
  }
  return true;
}

std::shared_ptr<Bench> Bench::FromText(std::string_view text, std::string* error) {
  std::vector<ProductConfig> products;
  if (!ParseText(text, &products, error)) return nullptr;
  return std::make_shared<Bench>(products);
}

std::shared_ptr<Bench> Bench::FromFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open bench file " + path;
    return nullptr;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return FromText(text.str(), error);
}

std::shared_ptr<Bench> Bench::CreateDefault() {
  std::string error;
  if (const char* file = std::getenv("KESTROVA_BENCH"); file != nullptr && *file != '\0') {
    if (auto bench = FromFile(file, &error)) return bench;
    std::fprintf(stderr, "%s; using the embedded bench\n", error.c_str());
  }
  return FromText(EmbeddedText(), &error);
}

}  // namespace sim
