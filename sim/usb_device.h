// A USB device on the bench that is not storage (a mouse, the power-control
// box): it shows on its hub port and in the device tree while plugged.
#pragma once

#include <atomic>
#include <string>

#include "platform/device_setup.h"
#include "sim/bench_config.h"
#include "sim/device_notices.h"

namespace sim {

class UsbDevice {
 public:
  explicit UsbDevice(const UsbDeviceConfig& config) : config_(config) {}
  const UsbDeviceConfig& config() const { return config_; }
  // Each coming and going sends the system's notices.
  void Unplug() {
    if (plugged_.exchange(false)) AnnounceUsbDevice(*this, false);
  }
  void Plug() {
    if (!plugged_.exchange(true)) AnnounceUsbDevice(*this, true);
  }
  bool Online() const { return plugged_.load(); }
  const std::string& instanceId() const { return instanceId_; }
  UsbSpeed speed() const { return speed_; }
  platform::DevInst node() const { return node_; }

 private:
  friend class UsbTopology;  // places the device when the bench is built
  UsbDeviceConfig config_;
  std::atomic<bool> plugged_{true};
  std::string instanceId_;
  UsbSpeed speed_ = UsbSpeed::Full;
  platform::DevInst node_ = 0;
};

}  // namespace sim
