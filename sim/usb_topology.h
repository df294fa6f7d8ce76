// The bench's USB side as the system sees it: the hubs with what sits on
// each port, the device tree (host controllers, hubs, devices, the disk
// nodes of the products), the interface lists, and the hub requests. Built
// once from a resolved description; what changes at run time (plugged,
// reset windows) is asked of the products and devices.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_setup.h"
#include "sim/product.h"
#include "sim/system_state.h"
#include "sim/usb_device.h"
#include "sim/usb_placement.h"

namespace sim {

struct UsbHub {
  HubConfig config;
  int parent = -1;  // index of the parent hub; -1: a root hub
  uint32_t parentPort = 0;
  UsbSpeed cap = UsbSpeed::High;  // fastest link its ports give (its own link too)
  std::string path;               // interface path
  std::string connectionName;     // what the parent's port reports (external hubs)
  std::string openKey;            // folded path without its "\\?\" or "\\.\"
  std::string instanceId;
  std::string driverKey;
  platform::DevInst node = 0;
  std::vector<PortSlot> ports;
};

struct DeviceNode {
  enum class Owner : uint8_t { Always, ProductUsb, ProductDisk, Device };
  platform::DevInst parent = 0;
  std::vector<platform::DevInst> children;
  std::string id;  // instance id; the nodes of products ask the product
  std::string driverKey;
  Owner owner = Owner::Always;
  size_t index = 0;
};

class UsbTopology {
 public:
  // Places the products (paths, ids, hub ports, letters) as it builds.
  UsbTopology(const ResolvedTopology& resolved, const BenchConfig& config, const SystemState& system,
              Products& products);

  UsbDevice* FindDevice(std::string_view name);
  // Interface path of a hub by its name; empty when there is none.
  std::string HubPath(std::string_view name) const;
  // The hub an open of `path` reaches ("\\?\" or "\\.\" and any case).
  const UsbHub* HubOfPath(std::string_view path) const;
  bool IsSystemDiskPath(std::string_view path) const;

  // Hub requests (IOCTL_USB_*) on a hub handle.
  bool HubRequest(const UsbHub& hub, uint32_t code, const void* in, uint32_t inSize, void* out,
                  uint32_t outSize, uint32_t* returned, uint32_t* error) const;

  // Interface lists and the device tree, as the platform asks for them.
  bool ListDeviceInterfaces(const platform::Guid& interfaceClass,
                            std::vector<platform::DeviceInterfaceEntry>* out) const;
  bool ListClassDevices(const platform::Guid& deviceClass, std::vector<platform::DevInst>* out) const;
  bool GetNode(platform::DevInst node, platform::DeviceNodeInfo* out) const;

 private:
  platform::DevInst AddNode(platform::DevInst parent, std::string id, std::string driverKey,
                            DeviceNode::Owner owner = DeviceNode::Owner::Always, size_t index = 0);
  void BuildTree(bool systemDisk);
  // Wires each Type-C power fixture to the product it powers (type_c_fixture.cpp).
  void AttachTypeCFixtures(const std::vector<TypeCFixtureConfig>& fixtures);
  bool NodeOnline(const DeviceNode& node) const;
  // The names of a product that enumerates presenting `identity`.
  Product::Names Name(const Product& product, const DeviceIdentity& identity) const;

  const SystemState& system_;
  Products& products_;
  std::vector<std::unique_ptr<UsbDevice>> devices_;
  std::vector<std::unique_ptr<UsbHub>> hubs_;
  std::vector<DeviceNode> tree_;  // index = DevInst; 0 unused, 1 the root
  std::string systemDiskPath_, systemDiskId_;
  platform::DevInst systemDiskNode_ = 0;
  uint32_t usbKeys_ = 0, diskKeys_ = 0, cdromKeys_ = 0;  // driver keys handed out per class
  std::vector<bool> explicitPaths_;  // per product: the bench file gave its path
  // One product at a time takes its names, so two that come back with one
  // serial never both take it.
  std::mutex namingMutex_;
};

}  // namespace sim
