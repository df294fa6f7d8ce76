// One emulated bridge controller: it answers the vendor and standard
// commands the station sends, from device state (configuration memory, SPI
// flash, registers, firmware state) and from the disk behind it. Not
// thread-safe: the bench serialises the commands of one product.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/bridge_command.h"
#include "sim/identity_image.h"
#include "sim/product_config.h"

namespace sim {

class DiskImage;
class FirmwareDownload;
class ParallelFlash;
class SpiFlash;
class UfsUnit;

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

  // The bridge powers up (after a reset); it is back on the bus at station
  // millisecond `at` (now without it).
  void PowerOn(uint64_t at);
  void PowerOn();

  const ProductConfig& config() const { return config_; }
  // From now on no vendor command is answered (the product came back as
  // something the station cannot identify).
  void BecomeForeign() { config_.foreignBridge = true; }
  SpiFlash& flash() { return *flash_; }
  DiskImage& disk() { return *disk_; }    // port 0
  DiskImage& disk2() { return *disk2_; }  // port 1
  // A drive whose medium can be read now (a disabled UFS unit has none),
  // and written (not write-protected).
  bool MediumPresent(int drive) const;
  bool MediumWritable(int drive) const;
  // Station time the medium last came or went (0: never).
  uint64_t MediumChangedAt(int drive) const;
  // The UFS device in place of the port-0 drive; null for an ATA bridge.
  const UfsUnit* ufs() const { return ufs_.get(); }
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
  // power-on, ChipTypes 21-28 from their product firmware and configuration
  // (FirmwareDownload::PresentedIdentity), so what was programmed shows
  // after the next reset; the others present the bench's settings.
  const DeviceIdentity& PresentedIdentity() const { return identity_; }

 private:
  struct State;
  ProductConfig config_;
  std::unique_ptr<SpiFlash> flash_;
  std::unique_ptr<ParallelFlash> otherFlash_;
  DeviceIdentity identity_;
  std::unique_ptr<DiskImage> disk_;
  std::unique_ptr<DiskImage> disk2_;
  std::unique_ptr<UfsUnit> ufs_;
  std::vector<uint8_t> configMemory_;
  std::vector<uint8_t> registers_;  // 64 KB register (XDATA) space
  std::unique_ptr<State> state_;
};

}  // namespace sim
