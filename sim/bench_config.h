// What a bench description says: the machine, its USB hubs, the products
// (a bridge with its disk) and the other USB devices, and the faults tests
// arm on the system's services.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/product_config.h"

namespace sim {

enum class UsbSpeed : uint8_t { Low = 0, Full = 1, High = 2, Super = 3, SuperPlus = 4 };

// The machine itself.
struct SystemConfig {
  uint32_t osMajor = 10;
  uint32_t osMinor = 0;
  uint16_t servicePack = 0;
  char windowsDrive = 'C';
  std::string networkLetters;  // drive letters of network drives
  bool systemDisk = false;     // list the system's own disk among the disk interfaces
  // A new volume shows (as RAW when nothing on it is recognised) this long
  // after a layout change, under its old letter.
  uint32_t volumeArrivalMs = 2000;
  // The temporary folder (on the system drive); empty: the system has none.
  std::string tempPath = "C:\\Users\\Station User\\AppData\\Local\\Temp\\";
  // Programs of the system folder that this system lacks ("diskpart.exe",
  // "format.com", "cmd.exe", "label.exe").
  std::vector<std::string> missingPrograms;
  bool formatService = true;  // "fmifs.dll" with its entries
};

// A fault armed on the system's services: programs, volume and raw disk
// requests, labels and formats.
enum class SystemOp : uint8_t {
  Start,     // the program does not start (error: last-error code, 0: file not found)
  ExitCode,  // the program ends with `error` as its exit code, doing nothing
  Hang,      // the program never ends (as if waiting for input)
  Lock, Unlock, Dismount,  // volume requests (error 0: access denied)
  Read, Write, Verify,     // raw transfers and IOCTL_DISK_VERIFY on disk and volume handles
  Layout,    // CREATE_DISK and SET_DRIVE_LAYOUT(_EX)
  SetLabel,  // the volume label (SetVolumeLabel, "label")
  Format,    // "format.com" and the format service fail on the volume
};

struct SystemFault {
  SystemOp op = SystemOp::Start;
  // Programs: the program's file name ("format.com"); volume and disk
  // requests: the product's name; empty: any.
  std::string target;
  int skip = 0;   // matching requests let through first
  int count = 1;  // matching requests that fault; -1: all from then on
  uint32_t error = 0;
  // Read, Write: the product leaves the bus (and stays gone) instead of
  // answering, as a device pulled out in the middle of a transfer.
  bool vanish = false;
};

struct HubConfig {
  std::string name;
  std::string parent;                 // empty: a root hub
  uint32_t port = 0;                  // on the parent; 0: its lowest free port
  uint32_t ports = 4;
  std::string rootName = "root_hub30";  // root hubs: the name in the interface path
  std::string speed;                  // fastest link of its ports; empty: by kind
  uint16_t vid = 0x05E3;
  uint16_t pid = 0x0610;
};

// A USB device that is not storage (a mouse, the power-control box).
struct UsbDeviceConfig {
  std::string name;
  std::string hub;
  uint32_t port = 0;
  std::string speed;  // empty: full
  uint16_t vid = 0x1D6C;
  uint16_t pid = 0x0001;
  std::string manufacturer = "Kestrova Sim";
  std::string product = "USB Device";
  std::string serial;  // empty: no serial string
  std::vector<uint16_t> languages = {0x0409};
  uint8_t deviceClass = 0;
};

// The Type-C power fixture: a power-control product (ChipType 6, USB serial
// "6A3E41649...") whose register 0x7059 powers another product through one
// of two ports of that product's hub: bit 3 its own port (CC1), bit 4 the
// CC2 port (bit 3 wins when both are set); neither takes it off the bus.
struct TypeCFixtureConfig {
  std::string fixture;  // product name of the power-control device
  std::string powered;  // product name of the product it powers; empty: none
  uint32_t cc2Port = 0; // port of the powered product's hub for CC2
};

struct BenchConfig {
  SystemConfig system;
  std::vector<HubConfig> hubs;
  std::vector<ProductConfig> products;
  std::vector<UsbDeviceConfig> devices;
  std::vector<TypeCFixtureConfig> typeCFixtures = {};
};

}  // namespace sim
