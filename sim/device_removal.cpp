#include "sim/device_removal.h"

#include "platform/clock.h"
#include "platform/device_setup.h"
#include "sim/bench.h"

namespace sim {

void DeviceRemoval::HoldOpen(const Product& product, std::string holder) {
  std::lock_guard lock(mutex_);
  holders_[product.index()] = std::move(holder);
}

void DeviceRemoval::Release(const Product& product) {
  std::lock_guard lock(mutex_);
  holders_.erase(product.index());
}

int DeviceRemoval::Requests(const Product& product) const {
  std::lock_guard lock(mutex_);
  const auto it = requests_.find(product.index());
  return it == requests_.end() ? 0 : it->second;
}

uint32_t DeviceRemoval::Remove(Product& product, uint32_t* vetoType, std::string* vetoName) {
  if (const uint32_t delay = delayMs_.load()) platform::Sleep(delay);
  {
    std::lock_guard lock(mutex_);
    ++requests_[product.index()];
    const auto held = holders_.find(product.index());
    if (held != holders_.end()) {
      *vetoType = platform::kPnpVetoOutstandingOpen;
      *vetoName = held->second;
      return platform::kCrRemoveVetoed;
    }
  }
  product.Unplug();
  return platform::kCrSuccess;
}

// The bench's side of the removal calls: the product whose USB node, or
// whose disk node, was named.
uint32_t Bench::RemoveSubTree(platform::DevInst node, bool, uint32_t* vetoType,
                              std::string* vetoName) {
  platform::DeviceNodeInfo info;
  if (!GetNode(node, &info)) return platform::kCrNoSuchDevNode;
  for (auto& p : products_) {
    if (p->Online() && (p->usbNode() == node || p->usbNode() == info.parent))
      return removal_->Remove(*p, vetoType, vetoName);
  }
  return platform::kCrInvalidDevNode;
}

}  // namespace sim
