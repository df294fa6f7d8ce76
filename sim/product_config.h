// What a bench file says about one product: the bridge, its flash and the
// disk behind it. Everything has a default, so a product line may name only
// its chip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct DiskConfig {
  bool present = true;           // false: the bridge has no drive attached
  bool packetDevice = false;     // ATAPI: answers IDENTIFY PACKET DEVICE, not IDENTIFY DEVICE
  uint64_t sectors = 31250000;   // about 16 GB of 512-byte sectors
  uint32_t sectorSize = 512;     // 512 or 4096
  uint64_t reservedSectors = 0;  // readable beyond the visible capacity
  std::string model = "KV SIM DISK";
  std::string serial = "SIM0000001";
  std::string firmware = "1.00";
  std::string imagePath;         // sparse image; empty: a temp file removed at exit
  // Throughput in MB/s (10^6 bytes); 0: what the product's USB link carries.
  uint32_t readMBps = 0;
  uint32_t writeMBps = 0;
};

// Port 1 of a bridge is empty unless the bench puts a drive there; its own
// serial keeps two drives' IDENTIFY data apart.
inline DiskConfig NoSecondDrive() {
  DiskConfig drive;
  drive.present = false;
  drive.serial = "SIM0000002";
  return drive;
}

struct FlashConfig {
  bool present = true;
  std::vector<uint8_t> jedecId = {0xEF, 0x40, 0x14};  // 9F reply, manufacturer first
  int signature = -1;                                 // AB/90 device id; -1: last id byte - 1
  uint32_t size = 1024 * 1024;                        // bytes
  uint32_t sectorSize = 4096;                         // erase geometry, apart from the id
  uint32_t blockSize = 32 * 1024;
  // Busy times, typical of a current SPI NOR part (the chip erase of a 1 MiB
  // one); a status write takes what a page program does. 0: no busy time.
  uint32_t pageProgramUs = 400;
  uint32_t sectorEraseMs = 45;
  uint32_t blockEraseMs = 150;
  uint32_t chipEraseMs = 2000;
  uint32_t busyStatusReads = 0;  // status reads that still answer busy after each erase or program
  uint8_t status = 0;            // status register at first power-on (protect bits 0x1C, 0x80)
  int typeCode = -1;             // FF 04 23 flash type code; -1: the firmware's own from the id
  uint8_t commandSet = 0;        // ChipTypes 29, 34: parallel flash unlock addresses,
                                 // 0: 5555/2AAA, 1: 555/2AA
};

// A UFS device in place of the ATA drive: it answers no IDENTIFY, only
// INQUIRY (the bridge's), the block commands, SYNCHRONIZE CACHE, FORMAT
// UNIT, MODE SENSE and the unit command E6. The medium is `disk`.
struct UfsConfig {
  bool present = false;
  bool enabled = true;            // disabled: no medium, no volume
  bool enableAfterReset = false;  // an enable takes effect at the next power-on
  bool writeProtected = false;    // writes fail DATA PROTECT; MODE SENSE shows WP
  uint8_t referenceClock = 1;     // bRefClkFreq: 0 19.2, 1 26, 2 38.4, 3 52 MHz
};

// Where a product sits on the USB tree and how the system presents it.
struct PlacementConfig {
  std::string hub;                            // empty: the default root hub "root"
  uint32_t port = 0;                          // 0: the hub's lowest free port
  std::string speed;                          // low/full/high/super/superplus; empty: by chip type
  std::vector<uint16_t> languages = {0x0409}; // string descriptor 0
  bool uas = false;                           // UAS driver: "scsi#" path, SCSI\ device node
  bool cdrom = false;                         // a CD-ROM class interface instead of a disk
  bool resetNewPath = false;                  // comes back from a reset with a new instance suffix
};

// The volumes the system mounts from a product's drives.
struct VolumeConfig {
  bool autoLetter = true;          // no letters given: the next free letter from D
  std::string letters;             // volumes on the first drive, e.g. "EF"
  std::string letters2;            // volumes on the second drive of a two-drive bridge
  std::string fileSystem = "NTFS"; // empty: a raw volume
  std::string label;
  uint32_t driveType = 0;          // platform kDrive*; 0: fixed (CD-ROM for a CD-ROM product)
  uint64_t freeBytes = ~0ull;      // ~0: 90 % of the volume
};

// What a bridge reset leads to once its delay has passed.
enum class AfterReset : uint8_t {
  ComesBack,     // back on the bus as it was
  NeverBack,     // gone for good, as a product that died in its reset
  Unidentified,  // back, but answering no vendor command (identified as nothing)
};

struct ProductConfig {
  std::string name;               // a label for traces and test output
  std::string path;               // storage interface path; empty: derived from the name
  uint8_t chipType = 21;          // the bridge model, by its chip type number (1-34)
  uint16_t vid = 0x1D6B;
  uint16_t pid = 0x0100;
  std::string manufacturer = "Kestrova Sim";
  std::string product = "USB Storage Bridge";
  std::string usbSerial = "000000000001";
  std::string inquiryVendor = "KESTROVA";     // INQUIRY bytes 8-15
  std::string inquiryProduct = "SIM BRIDGE";  // bytes 16-31
  std::string inquiryRevision = "0100";       // bytes 32-35
  std::string revisionText;                   // FF 04 30 block; empty: the chip's default
  std::vector<uint8_t> firmwareVersion = {0x01, 0x00, 0x00, 0x00};  // chip-information bytes 12-15
  std::vector<uint8_t> infoVersion;           // chip-information bytes 6-7; empty: the chip's own
  bool bootCodeOnly = false;                  // boot ROM only: no chip code, no chip information
  bool chipCodeInInquiry = true;              // INQUIRY bytes 36-39 carry the chip code
  bool foreignBridge = false;                 // another maker's bridge: no vendor command answers
  bool internalCode = false;                  // the maker's internal build runs, not a product firmware
  bool bankSelect = false;                    // register 0x506A bit 0 reads 1 (second bank selected)
  bool usb3Enabled = true;                    // register 0x702B bit 2
  uint32_t configMemorySize = 64 * 1024;      // DF-addressed configuration memory
  bool configEepromPresent = true;
  // READ/WRITE BUFFER families (ChipTypes 21-28):
  bool bootRom = false;                       // the boot ROM runs, waiting for a manufacturing image
  char revisionDigit = 0;                     // chip-information byte 11; 0: the chip's own
  uint32_t buffer1Bank = 0;                   // QVS87x: the bank (0/1) that boots and READ BUFFER 1 shows
  bool checkBankChecksums = false;            // QVS87x: a bank with a wrong bank checksum does not boot
  uint32_t resetDelayMs = 1500;               // off the bus after a reset
  AfterReset afterReset = AfterReset::ComesBack;
  uint32_t commandUs = 150;                   // each command's round trip, its data aside
  // Plugged in and pulled out while the station runs, at these station
  // milliseconds after the bench was made. A product whose first event is a
  // plug starts off the bus.
  std::vector<uint32_t> plugAtMs;
  std::vector<uint32_t> pullAtMs;
  FlashConfig flash;
  DiskConfig disk;                            // port 0 (master, device 0xA0)
  DiskConfig disk2 = NoSecondDrive();        // port 1 (slave, device 0xB0)
  UfsConfig ufs;                              // a UFS device on port 0 instead of an ATA drive
  PlacementConfig placement;                  // where it sits on the USB tree
  VolumeConfig volume;                        // the volumes of its drives
};

}  // namespace sim
