#include "sim/usb_topology.h"

#include <algorithm>
#include <functional>
#include <set>
#include <string_view>

#include "platform/text.h"
#include "sim/device_ids.h"

namespace sim {

using platform::AsciiLower;
using platform::AsciiUpper;

namespace {

// The system takes a serial string into a device's instance id only when
// every character may stand there: none below 0x20 (a NUL among them would
// cut the id short), none above 0x7F, no comma. Any other serial counts as
// none.
bool UsableSerial(std::string_view serial) {
  return !serial.empty() && std::all_of(serial.begin(), serial.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u <= 0x7F && c != ',';
  });
}

}  // namespace

UsbTopology::UsbTopology(const ResolvedTopology& r, const BenchConfig& config, const SystemState& system,
                         Products& products)
    : system_(system), products_(products) {
  for (const UsbDeviceConfig& d : config.devices) devices_.push_back(std::make_unique<UsbDevice>(d));

  // Hubs: paths and names first (ports refer to them).
  hubs_.reserve(r.hubs.size());
  for (size_t i = 0; i < r.hubs.size(); ++i) {
    auto hub = std::make_unique<UsbHub>();
    hub->config = r.hubs[i];
    hub->parent = r.hubParent[i];
    hub->parentPort = r.hubParentPort[i];
    hub->cap = r.hubCap[i];
    hub->ports = r.ports[i];
    const std::string unique = Hex(Fnv32("hub:" + hub->config.name), 8, false);
    if (hub->parent < 0) {
      const std::string rootName = AsciiUpper(hub->config.rootName);
      hub->instanceId = "USB\\" + rootName + "\\4&" + unique + "&0&0";
      hub->path = "\\\\?\\" + AsciiLower("usb#" + rootName + "#4&" + unique + "&0&0") + kHubInterfaceSuffix;
    } else {
      const std::string ids = "VID_" + Hex(hub->config.vid, 4, true) + "&PID_" + Hex(hub->config.pid, 4, true);
      const std::string location = "5&" + unique + "&0&" + std::to_string(hub->parentPort);
      hub->instanceId = "USB\\" + ids + "\\" + location;
      hub->connectionName = "USB#" + ids + "#" + location + AsciiUpper(kHubInterfaceSuffix);
      hub->path = "\\\\?\\" + AsciiLower(hub->connectionName);
    }
    hub->openKey = AsciiLower(hub->path.substr(4));
    hub->driverKey = ClassKey(kUsbClassKey, &usbKeys_);
    hubs_.push_back(std::move(hub));
  }

  // Disk numbers: the system's disk is 0; CD-ROMs count on their own.
  uint32_t diskNumber = 1, cdromNumber = 0;
  std::set<std::string> usbIds;
  for (size_t i = 0; i < products_.size(); ++i) {
    Product& p = *products_[i];
    const ProductConfig& c = p.config_;
    const UsbHub& hub = *hubs_[static_cast<size_t>(r.products[i].hub)];
    p.hubName_ = hub.path;
    p.hubPort_ = r.products[i].port;
    p.speed_ = r.products[i].speed;
    p.maxSpeed_ = r.products[i].maxSpeed;
    p.letters_[0].store(r.letters[0][i]);
    p.letters_[1].store(r.letters[1][i]);
    p.deviceNumber_ = c.placement.cdrom ? cdromNumber++ : diskNumber++;
    explicitPaths_.push_back(!c.path.empty());
    p.namer_ = [this](Product& product, const DeviceIdentity& identity) {
      std::lock_guard lock(namingMutex_);
      product.TakeNames(Name(product, identity));
    };
    p.namer_(p, p.PresentedIdentity());
    if (c.path.empty()) p.config_.path = p.path();
    usbIds.insert(p.usbInstanceId().substr(4));  // without "USB\\", as the devices' below
  }
  for (size_t i = 0; i < devices_.size(); ++i) {
    UsbDevice& d = *devices_[i];
    const UsbHub& hub = *hubs_[static_cast<size_t>(r.devices[i].hub)];
    d.speed_ = r.devices[i].speed;
    const std::string ids = "VID_" + Hex(d.config_.vid, 4, true) + "&PID_" + Hex(d.config_.pid, 4, true);
    std::string unique = AsciiUpper(d.config_.serial);
    if (!UsableSerial(unique) || !usbIds.insert(ids + "\\" + unique).second)
      unique = "6&" + Hex(Fnv32(hub.path), 8, false) + "&0&" + std::to_string(r.devices[i].port);
    d.instanceId_ = "USB\\" + ids + "\\" + unique;
  }
  BuildTree(system_.config.systemDisk);
  AttachTypeCFixtures(config.typeCFixtures);
}

// A device without a serial string, with one that an instance id cannot
// hold, or with the serial of one already attached, is known by its
// location.
Product::Names UsbTopology::Name(const Product& p, const DeviceIdentity& identity) const {
  const ProductConfig& c = p.config();
  Product::Names names;
  const std::string ids = "VID_" + Hex(identity.vid, 4, true) + "&PID_" + Hex(identity.pid, 4, true);
  std::string unique = AsciiUpper(identity.serial);
  const auto taken = [&](const std::string& id) {
    for (const auto& other : products_)
      if (other.get() != &p && other->usbInstanceId() == id) return true;
    return false;
  };
  if (!UsableSerial(unique) || taken("USB\\" + ids + "\\" + unique))
    unique = "6&" + Hex(Fnv32(p.hubName_), 8, false) + "&0&" + std::to_string(p.hubPort_);
  names.usbInstanceId = "USB\\" + ids + "\\" + unique;
  const std::string kind = c.placement.cdrom ? "CDROM" : "DISK";
  const std::string suffix = c.placement.cdrom ? kCdRomInterfaceSuffix : kDiskInterfaceSuffix;
  const std::string vendor = AsciiUpper(IdPart(identity.inquiryVendor));
  const std::string product = AsciiUpper(IdPart(identity.inquiryProduct));
  if (c.placement.uas) {
    const std::string id = kind + "&VEN_" + vendor + "&PROD_" + product;
    const std::string location = "7&" + Hex(Fnv32(names.usbInstanceId), 8, false) + "&";
    names.diskIdStem = "SCSI\\" + id + "\\" + location;
    names.diskIdTail = "&000000";
    names.pathStem = AsciiLower("\\\\?\\scsi#" + id + "#" + location);
    names.pathTail = "&000000" + suffix;
  } else {
    const std::string id = kind + "&VEN_" + vendor + "&PROD_" + product + "&REV_" +
                           AsciiUpper(IdPart(identity.inquiryRevision));
    names.diskIdStem = "USBSTOR\\" + id + "\\" + unique + "&";
    names.pathStem = AsciiLower("\\\\?\\usbstor#" + id + "#" + unique + "&");
    names.pathTail = suffix;
  }
  // An explicit path stays what the bench file says, without generations.
  if (!c.path.empty() && p.index() < explicitPaths_.size() && explicitPaths_[p.index()]) {
    names.pathStem = c.path;
    names.pathTail.clear();
  }
  return names;
}

platform::DevInst UsbTopology::AddNode(platform::DevInst parent, std::string id, std::string driverKey,
                                       DeviceNode::Owner owner, size_t index) {
  const auto node = static_cast<platform::DevInst>(tree_.size());
  DeviceNode t;
  t.parent = parent;
  t.id = std::move(id);
  t.driverKey = std::move(driverKey);
  t.owner = owner;
  t.index = index;
  tree_.push_back(std::move(t));
  tree_[parent].children.push_back(node);
  return node;
}

// The device tree: a host controller per root hub, then the hubs' ports
// depth-first; the system disk behind its own controller.
void UsbTopology::BuildTree(bool systemDisk) {
  tree_.resize(2);
  tree_[1].id = "HTREE\\ROOT\\0";
  uint16_t address = 1;
  std::function<void(size_t, platform::DevInst)> addHub = [&](size_t h, platform::DevInst parent) {
    UsbHub& hub = *hubs_[h];
    hub.node = AddNode(parent, hub.instanceId, hub.driverKey);
    for (PortSlot& slot : hub.ports) {
      if (slot.kind == Attached::None) continue;
      slot.address = address++;
      switch (slot.kind) {
        case Attached::Product: {
          Product& p = *products_[slot.index];
          const platform::DevInst usb = AddNode(hub.node, p.usbInstanceId(), ClassKey(kUsbClassKey, &usbKeys_),
                                                DeviceNode::Owner::ProductUsb, slot.index);
          p.usbNode_ = usb;
          AddNode(usb, {}, ClassKey(p.config_.placement.cdrom ? kCdRomClassKey : kDiskClassKey,
                                    p.config_.placement.cdrom ? &cdromKeys_ : &diskKeys_),
                  DeviceNode::Owner::ProductDisk, slot.index);
          break;
        }
        case Attached::Device:
          devices_[slot.index]->node_ =
              AddNode(hub.node, devices_[slot.index]->instanceId_, ClassKey(kUsbClassKey, &usbKeys_),
                      DeviceNode::Owner::Device, slot.index);
          break;
        case Attached::Hub:
          addHub(slot.index, hub.node);
          break;
        case Attached::None:
          break;
      }
    }
  };
  uint32_t controllers = 0;
  for (size_t h = 0; h < hubs_.size(); ++h) {
    if (hubs_[h]->parent >= 0) continue;
    const std::string controller = "PCI\\VEN_1D6B&DEV_" + Hex(0x0100 + controllers, 4, true) +
                                   "&SUBSYS_00000000&REV_01\\3&" +
                                   Hex(Fnv32(hubs_[h]->config.name), 8, false) + "&0&" +
                                   Hex(controllers * 8, 2, true);
    ++controllers;
    address = 1;
    addHub(h, AddNode(1, controller, ClassKey(kUsbClassKey, &usbKeys_)));
  }
  if (systemDisk) {
    const platform::DevInst controller =
        AddNode(1, "PCI\\VEN_144D&DEV_A808&SUBSYS_A801144D&REV_00\\4&1d2c3b4a&0&00E8",
                "{4d36e97b-e325-11ce-bfc1-08002be10318}\\0000");
    systemDiskId_ = "SCSI\\DISK&VEN_NVME&PROD_KV_SIM_SYSTEM\\5&2f1e3d4c&0&000000";
    systemDiskNode_ = AddNode(controller, systemDiskId_, ClassKey(kDiskClassKey, &diskKeys_));
    systemDiskPath_ = AsciiLower("\\\\?\\scsi#disk&ven_nvme&prod_kv_sim_system#5&2f1e3d4c&0&000000") +
                      kDiskInterfaceSuffix;
  }
}

UsbDevice* UsbTopology::FindDevice(std::string_view name) {
  for (auto& d : devices_)
    if (d->config().name == name) return d.get();
  return nullptr;
}

std::string UsbTopology::HubPath(std::string_view name) const {
  for (const auto& h : hubs_)
    if (h->config.name == name) return h->path;
  return {};
}

const UsbHub* UsbTopology::HubOfPath(std::string_view path) const {
  if (path.substr(0, 4) == "\\\\?\\" || path.substr(0, 4) == "\\\\.\\") path.remove_prefix(4);
  const std::string key = AsciiLower(path);
  for (const auto& hub : hubs_)
    if (hub->openKey == key) return hub.get();
  return nullptr;
}

bool UsbTopology::IsSystemDiskPath(std::string_view path) const {
  return !systemDiskPath_.empty() && AsciiLower(path) == systemDiskPath_;
}

}  // namespace sim
