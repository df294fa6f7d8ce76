// The Type-C power fixture: after every command to the power-control
// product, bits 3 and 4 of its register 0x7059 decide whether the product it
// powers is on the bus, and through which of two ports of its hub.
#include <stdexcept>
#include <string>

#include "sim/emulated_bridge.h"
#include "sim/product.h"
#include "sim/usb_topology.h"

namespace sim {
namespace {

constexpr uint16_t kPowerRegister = 0x7059;
constexpr uint8_t kCc1Power = 0x08;
constexpr uint8_t kCc2Power = 0x10;

Product* Named(Products& products, const std::string& name) {
  for (auto& p : products) {
    if (p->config().name == name) return p.get();
  }
  throw std::invalid_argument("Type-C fixture: no product named \"" + name + "\"");
}

}  // namespace

void UsbTopology::AttachTypeCFixtures(const std::vector<TypeCFixtureConfig>& fixtures) {
  for (const TypeCFixtureConfig& f : fixtures) {
    Product* fixture = Named(products_, f.fixture);
    if (f.powered.empty()) continue;  // outputs connected to nothing
    Product* powered = Named(products_, f.powered);
    if (fixture == powered) throw std::invalid_argument("Type-C fixture: it cannot power itself");
    UsbHub* hub = nullptr;
    for (auto& h : hubs_) {
      if (h->path == powered->hubName()) hub = h.get();
    }
    if (hub == nullptr) throw std::invalid_argument("Type-C fixture: the product has no hub");
    // CC2 on the product's own port is a fixture wired wrong: both
    // orientations reach the same port.
    uint32_t cc2 = 0;
    if (f.cc2Port != powered->hubPort()) {
      if (f.cc2Port < 1 || f.cc2Port > hub->ports.size() ||
          hub->ports[f.cc2Port - 1].kind != Attached::None) {
        throw std::invalid_argument("Type-C fixture: CC2 port " + std::to_string(f.cc2Port) +
                                    " is not a free port of the product's hub");
      }
      // The same device, reached through the other port.
      hub->ports[f.cc2Port - 1] = hub->ports[powered->hubPort() - 1];
      cc2 = f.cc2Port;
    }
    powered->plugged_.store(false);  // until the fixture's register says otherwise
    fixture->SetCommandObserver([powered, cc2, last = uint8_t{0}](EmulatedBridge& bridge) mutable {
      const uint8_t power = bridge.registers()[kPowerRegister] & (kCc1Power | kCc2Power);
      if (power == last) return;
      last = power;
      if (power & kCc1Power) {
        powered->PowerOn(0);
      } else if (power & kCc2Power) {
        powered->PowerOn(cc2);
      } else {
        powered->PowerOff();
      }
    });
  }
}

}  // namespace sim
