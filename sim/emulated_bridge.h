// One emulated bridge controller: it answers the vendor and standard
// commands the station sends, from device state (configuration memory, SPI
// flash, registers, firmware state) and from the disk behind it. Not
// thread-safe: the bench serialises the commands of one product.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/identity_image.h"
#include "sim/product_config.h"

namespace sim {

class DiskImage;
class FirmwareDownload;
class ParallelFlash;
class SpiFlash;

// What the station's commands left in the bridge besides its memories, for
// checks by tests and the bench.
struct VendorState {
  bool standbyEnabled = false;      // FF 04 A3
  uint32_t standbyTime = 0;         // 100 ms units
  uint32_t standbyPackets = 0;         // accepted from a download's configuration block
  uint32_t refusedStandbyPackets = 0;  // marked as packets, with a wrong checksum
  std::array<uint8_t, 40> powerCondition{};  // mode page 1A as last selected
  std::vector<uint8_t> identityRecord;       // C3 30: the 72 bytes, empty until written
  uint16_t identityValue1 = 0;
  uint16_t identityValue2 = 0;
  std::array<uint8_t, 4> flashOpcodes{};     // chip erase, block erase, program, sector erase
  uint8_t flashCode = 0xFF;                  // type byte of FF 04 24
  uint16_t opcodeParameter = 0;              // FF 04 0F
  uint8_t flashOption = 0;                   // FF 04 25 02 v
  bool vendorCmd25 = false;                  // FF 04 25 without data
  uint8_t status5 = 0;                       // FF 04 C8 05 v
  bool keyCommand = false;                   // FF 04 51 56 55
  bool flashMode = false;                    // FF 04 05
  std::array<uint8_t, 18> flashTypeBlock{};  // FF 04 04
};

struct CommandResult {
  uint8_t status = 0;          // SCSI status: 0 GOOD, 2 CHECK CONDITION
  uint32_t transferred = 0;    // bytes moved
  bool resetRequested = false; // the bridge leaves the bus after this command
};

class EmulatedBridge {
 public:
  explicit EmulatedBridge(const ProductConfig& config);
  ~EmulatedBridge();
  EmulatedBridge(const EmulatedBridge&) = delete;
  EmulatedBridge& operator=(const EmulatedBridge&) = delete;

  // Carries out one command. `data` is the request's buffer of `length`
  // bytes (may be null when length is 0); dataIn says the direction the host
  // asked for.
  CommandResult Execute(const uint8_t* cdb, uint8_t cdbLength, bool dataIn, uint8_t* data,
                        uint32_t length);
  // The same, sent to one drive's own logical unit (the volume of that
  // drive): unit 0 is what Execute reaches; on unit 1, the port-1 drive's
  // unit, the ATA tunnel reaches that drive whatever its device byte says
  // and the block commands address it. A unit without a drive refuses all.
  CommandResult ExecuteOnUnit(uint8_t unit, const uint8_t* cdb, uint8_t cdbLength, bool dataIn,
                              uint8_t* data, uint32_t length);

  // The bridge comes back on the bus after a reset.
  void PowerOn();

  const ProductConfig& config() const { return config_; }
  SpiFlash& flash() { return *flash_; }
  DiskImage& disk() { return *disk_; }    // port 0
  DiskImage& disk2() { return *disk2_; }  // port 1
  std::vector<uint8_t>& configMemory() { return configMemory_; }
  // Register space as stored; a read answers two bytes from the hardware
  // instead: the port register 0x720F from the drives, and bit 0 of 0x506A
  // set while the second bank is selected.
  std::vector<uint8_t>& registers() { return registers_; }
  const VendorState& vendorState() const;
  // The READ/WRITE BUFFER firmware path of ChipTypes 21-28 (null for the
  // others): stage, running bank, refused images.
  const FirmwareDownload* firmwareDownload() const;
  // The product firmware that booted from the flash at the last power-on,
  // in the firmware file's layout (see FirmwareDownload::BootedImage); empty
  // while the firmware the bench was set up with runs. Identity decoding
  // reads the new identity from it.
  std::vector<uint8_t> BootedImage() const;
  // DF FA/FB address the SPI flash (else the configuration EEPROM above).
  bool configMemoryInFlash() const;
  // How the other flash family (ChipTypes 29, 34) reaches the flash memory
  // above: a parallel part behind FF 04 00..05 (not present on the others).
  ParallelFlash& otherFlash() { return *otherFlash_; }
  // What the bridge presents: its USB ids and strings, and the INQUIRY
  // texts. The other flash family reads them from its identity image at
  // power-on, so a programmed image shows after the next reset; the others
  // present the bench's settings.
  const DeviceIdentity& PresentedIdentity() const { return identity_; }

 private:
  struct State;
  ProductConfig config_;
  std::unique_ptr<SpiFlash> flash_;
  std::unique_ptr<ParallelFlash> otherFlash_;
  DeviceIdentity identity_;
  std::unique_ptr<DiskImage> disk_;
  std::unique_ptr<DiskImage> disk2_;
  std::vector<uint8_t> configMemory_;
  std::vector<uint8_t> registers_;  // 64 KB register (XDATA) space
  std::unique_ptr<State> state_;
};

}  // namespace sim
