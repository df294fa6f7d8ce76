// The interface lists and the device tree as the setup functions walk them:
// what is unplugged, or inside its reset window, is not there.
#include <algorithm>

#include "sim/usb_topology.h"

namespace sim {

bool UsbTopology::NodeOnline(const DeviceNode& node) const {
  switch (node.owner) {
    case DeviceNode::Owner::ProductUsb:
    case DeviceNode::Owner::ProductDisk:
      return products_[node.index]->Online();
    case DeviceNode::Owner::Device:
      return devices_[node.index]->Online();
    case DeviceNode::Owner::Always:
      break;
  }
  return true;
}

bool UsbTopology::ListDeviceInterfaces(const platform::Guid& interfaceClass,
                                       std::vector<platform::DeviceInterfaceEntry>* out) const {
  out->clear();
  const bool disk = interfaceClass == platform::kGuidDevInterfaceDisk;
  const bool cdrom = interfaceClass == platform::kGuidDevInterfaceCdRom;
  if (interfaceClass == platform::kGuidDevInterfaceUsbHub) {
    for (const auto& hub : hubs_) out->push_back({hub->path, hub->node});
    return true;
  }
  if (!disk && !cdrom) return true;
  if (disk && systemDiskNode_ != 0) out->push_back({systemDiskPath_, systemDiskNode_});
  for (platform::DevInst n = 1; n < tree_.size(); ++n) {
    const DeviceNode& t = tree_[n];
    if (t.owner != DeviceNode::Owner::ProductDisk) continue;
    const Product& p = *products_[t.index];
    if (p.config().placement.cdrom == cdrom && p.Online() && !p.DiskPending())
      out->push_back({p.path(), n});
  }
  // The system lists storage in arrival order, not tree order.
  std::stable_sort(out->begin() + (disk && systemDiskNode_ ? 1 : 0), out->end(),
                   [&](const auto& a, const auto& b) { return tree_[a.node].index < tree_[b.node].index; });
  return true;
}

bool UsbTopology::ListClassDevices(const platform::Guid& deviceClass,
                                   std::vector<platform::DevInst>* out) const {
  std::vector<platform::DeviceInterfaceEntry> interfaces;
  if (deviceClass == platform::kGuidDevClassDiskDrive)
    ListDeviceInterfaces(platform::kGuidDevInterfaceDisk, &interfaces);
  else if (deviceClass == platform::kGuidDevClassCdRom)
    ListDeviceInterfaces(platform::kGuidDevInterfaceCdRom, &interfaces);
  out->clear();
  for (const auto& i : interfaces) out->push_back(i.node);
  return true;
}

bool UsbTopology::GetNode(platform::DevInst node, platform::DeviceNodeInfo* out) const {
  if (node == 0 || node >= tree_.size() || !NodeOnline(tree_[node])) return false;
  const DeviceNode& t = tree_[node];
  *out = platform::DeviceNodeInfo{};
  out->parent = t.parent;
  for (platform::DevInst c : t.children)
    if (NodeOnline(tree_[c])) {
      out->child = c;
      break;
    }
  if (t.parent != 0) {
    const auto& siblings = tree_[t.parent].children;
    auto it = std::find(siblings.begin(), siblings.end(), node);
    for (++it; it != siblings.end(); ++it)
      if (NodeOnline(tree_[*it])) {
        out->sibling = *it;
        break;
      }
  }
  switch (t.owner) {
    case DeviceNode::Owner::ProductDisk:
      out->deviceId = products_[t.index]->diskInstanceId();
      break;
    case DeviceNode::Owner::ProductUsb:
      out->deviceId = products_[t.index]->usbInstanceId();
      break;
    default:
      out->deviceId = t.id;
      break;
  }
  out->driverKey = t.driverKey;
  return true;
}

}  // namespace sim
