// One emulated bridge controller: it answers the vendor and standard
// commands the station sends, from device state (configuration memory, SPI
// flash, registers, firmware state) and from the disk behind it. Not
// thread-safe: the bench serialises the commands of one product.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/product_config.h"

namespace sim {

class DiskImage;
class SpiFlash;

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

  // The bridge comes back on the bus after a reset.
  void PowerOn();

  const ProductConfig& config() const { return config_; }
  SpiFlash& flash() { return *flash_; }
  DiskImage& disk() { return *disk_; }
  std::vector<uint8_t>& configMemory() { return configMemory_; }
  std::vector<uint8_t>& registers() { return registers_; }

 private:
  struct State;
  ProductConfig config_;
  std::unique_ptr<SpiFlash> flash_;
  std::unique_ptr<DiskImage> disk_;
  std::vector<uint8_t> configMemory_;
  std::vector<uint8_t> registers_;  // 64 KB register (XDATA) space
  std::unique_ptr<State> state_;
};

}  // namespace sim
