#include "sim/usb_placement.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/text.h"

namespace sim {
namespace {

UsbSpeed MinSpeed(UsbSpeed a, UsbSpeed b) { return a < b ? a : b; }

bool ParseSpeed(std::string_view text, UsbSpeed* out) {
  static constexpr struct {
    std::string_view name;
    UsbSpeed speed;
  } kSpeeds[] = {{"low", UsbSpeed::Low},     {"full", UsbSpeed::Full},
                 {"high", UsbSpeed::High},   {"super", UsbSpeed::Super},
                 {"superplus", UsbSpeed::SuperPlus}};
  for (const auto& s : kSpeeds)
    if (platform::AsciiLower(text) == s.name) {
      *out = s.speed;
      return true;
    }
  return false;
}

// USB 3 bridges: the families the station checks for SuperSpeed.
UsbSpeed DefaultProductSpeed(uint8_t chipType) {
  return (chipType == 13 || (chipType >= 19 && chipType <= 28)) ? UsbSpeed::Super : UsbSpeed::High;
}

UsbSpeed RootHubCap(std::string_view rootName) {
  if (rootName == "root_hub30") return UsbSpeed::SuperPlus;
  if (rootName == "root_hub20") return UsbSpeed::High;
  if (rootName == "root_hub") return UsbSpeed::Full;
  return UsbSpeed::Super;
}

bool LetterMask(std::string_view letters, uint32_t* mask) {
  *mask = 0;
  if (letters == "-") return true;
  for (char c : letters) {
    const int u = std::toupper(static_cast<unsigned char>(c));
    if (u < 'A' || u > 'Z') return false;
    const uint32_t bit = 1u << (u - 'A');
    if (*mask & bit) return false;
    *mask |= bit;
  }
  return true;
}

constexpr const char* kDefaultRootHub = "root";

}  // namespace

std::string ResolveTopology(const BenchConfig& config, ResolvedTopology* r) {
  r->hubs = config.hubs;
  auto hubIndex = [&](const std::string& name) -> int {
    for (size_t i = 0; i < r->hubs.size(); ++i)
      if (r->hubs[i].name == name) return static_cast<int>(i);
    return -1;
  };
  for (size_t i = 0; i < r->hubs.size(); ++i) {
    if (r->hubs[i].name.empty()) return "a hub without a name";
    for (size_t j = 0; j < i; ++j)
      if (r->hubs[j].name == r->hubs[i].name) return "duplicate hub '" + r->hubs[i].name + "'";
    if (r->hubs[i].ports < 1 || r->hubs[i].ports > 127)
      return "hub '" + r->hubs[i].name + "': ports must be 1-127";
  }
  // Things without a hub go to the default root hub, made when not declared.
  uint32_t defaultCount = 0, defaultMaxPort = 0;
  auto countDefault = [&](const std::string& hub, uint32_t port) {
    if (hub.empty() || hub == kDefaultRootHub) {
      ++defaultCount;
      defaultMaxPort = std::max(defaultMaxPort, port);
    }
  };
  for (const auto& p : config.products) countDefault(p.placement.hub, p.placement.port);
  for (const auto& d : config.devices) countDefault(d.hub, d.port);
  for (const auto& h : r->hubs)
    if (h.parent == kDefaultRootHub) countDefault(h.parent, h.port);
  if (defaultCount > 0 && hubIndex(kDefaultRootHub) < 0) {
    HubConfig root;
    root.name = kDefaultRootHub;
    root.ports = std::min<uint32_t>(127, std::max({4u, defaultCount, defaultMaxPort}));
    r->hubs.insert(r->hubs.begin(), root);
  }

  const size_t n = r->hubs.size();
  r->hubParent.assign(n, -1);
  r->hubParentPort.assign(n, 0);
  r->hubCap.assign(n, UsbSpeed::High);
  r->ports.assign(n, {});
  for (size_t i = 0; i < n; ++i) {
    const HubConfig& h = r->hubs[i];
    r->ports[i].resize(h.ports);
    UsbSpeed own = UsbSpeed::High;
    if (!h.speed.empty() && !ParseSpeed(h.speed, &own))
      return "hub '" + h.name + "': unknown speed '" + h.speed + "'";
    if (h.parent.empty()) {
      if (h.rootName.empty()) return "root hub '" + h.name + "' needs a root name";
      r->hubCap[i] = h.speed.empty() ? RootHubCap(h.rootName) : own;
    } else {
      const int parent = hubIndex(h.parent);
      if (parent < 0 || static_cast<size_t>(parent) >= i)
        return "hub '" + h.name + "': parent '" + h.parent + "' must be a hub declared before it";
      r->hubParent[i] = parent;
      const UsbSpeed parentCap = r->hubCap[static_cast<size_t>(parent)];
      r->hubCap[i] = h.speed.empty() ? MinSpeed(parentCap, UsbSpeed::Super) : MinSpeed(own, parentCap);
    }
  }

  // Ports: explicit ones first, then the lowest free port in order.
  auto take = [&](const std::string& what, const std::string& hubName, uint32_t port,
                  Attached kind, size_t index, bool explicitPass, int* hubOut,
                  uint32_t* portOut) -> std::string {
    if ((port != 0) != explicitPass) return {};
    const int hub = hubIndex(hubName.empty() ? kDefaultRootHub : hubName);
    if (hub < 0) return what + ": unknown hub '" + hubName + "'";
    auto& slots = r->ports[static_cast<size_t>(hub)];
    if (port == 0) {
      for (uint32_t p = 1; p <= slots.size() && port == 0; ++p)
        if (slots[p - 1].kind == Attached::None) port = p;
      if (port == 0) return what + ": no free port on hub '" + r->hubs[static_cast<size_t>(hub)].name + "'";
    } else if (port > slots.size()) {
      return what + ": hub '" + r->hubs[static_cast<size_t>(hub)].name + "' has no port " +
             std::to_string(port);
    } else if (slots[port - 1].kind != Attached::None) {
      return what + ": port " + std::to_string(port) + " of hub '" +
             r->hubs[static_cast<size_t>(hub)].name + "' is taken";
    }
    slots[port - 1].kind = kind;
    slots[port - 1].index = index;
    *hubOut = hub;
    *portOut = port;
    return {};
  };
  r->products.assign(config.products.size(), {});
  r->devices.assign(config.devices.size(), {});
  for (bool explicitPass : {true, false}) {
    for (size_t i = 0; i < n; ++i) {
      if (r->hubParent[i] < 0) continue;
      int hub = -1;
      uint32_t port = 0;
      std::string e = take("hub '" + r->hubs[i].name + "'", r->hubs[i].parent, r->hubs[i].port,
                           Attached::Hub, i, explicitPass, &hub, &port);
      if (!e.empty()) return e;
      if (hub >= 0) r->hubParentPort[i] = port;
    }
    for (size_t i = 0; i < config.products.size(); ++i) {
      const ProductConfig& p = config.products[i];
      std::string e = take("product '" + p.name + "'", p.placement.hub, p.placement.port,
                           Attached::Product, i, explicitPass, &r->products[i].hub,
                           &r->products[i].port);
      if (!e.empty()) return e;
    }
    for (size_t i = 0; i < config.devices.size(); ++i) {
      const UsbDeviceConfig& d = config.devices[i];
      std::string e = take("device '" + d.name + "'", d.hub, d.port, Attached::Device, i,
                           explicitPass, &r->devices[i].hub, &r->devices[i].port);
      if (!e.empty()) return e;
    }
  }
  for (size_t i = 0; i < config.products.size(); ++i) {
    const ProductConfig& p = config.products[i];
    Placement& pl = r->products[i];
    pl.maxSpeed = DefaultProductSpeed(p.chipType);
    if (!p.placement.speed.empty() && !ParseSpeed(p.placement.speed, &pl.maxSpeed))
      return "product '" + p.name + "': unknown speed '" + p.placement.speed + "'";
    pl.speed = MinSpeed(pl.maxSpeed, r->hubCap[static_cast<size_t>(pl.hub)]);
  }
  for (size_t i = 0; i < config.devices.size(); ++i) {
    const UsbDeviceConfig& d = config.devices[i];
    Placement& pl = r->devices[i];
    pl.maxSpeed = UsbSpeed::Full;
    if (!d.speed.empty() && !ParseSpeed(d.speed, &pl.maxSpeed))
      return "device '" + d.name + "': unknown speed '" + d.speed + "'";
    pl.speed = MinSpeed(pl.maxSpeed, r->hubCap[static_cast<size_t>(pl.hub)]);
  }

  // Drive letters: the system's, the network's, the explicit ones, then the
  // next free letter from D for each product that asked for none.
  const int windows = std::toupper(static_cast<unsigned char>(config.system.windowsDrive));
  if (windows < 'A' || windows > 'Z') return "windows_drive must be a letter";
  uint32_t used = 1u << (windows - 'A');
  if (!LetterMask(config.system.networkLetters, &r->networkLetters))
    return "network: letters A-Z, each once";
  if (r->networkLetters & used) return "network: the Windows drive is not a network drive";
  used |= r->networkLetters;
  r->letters[0].assign(config.products.size(), 0);
  r->letters[1].assign(config.products.size(), 0);
  for (size_t i = 0; i < config.products.size(); ++i) {
    const ProductConfig& p = config.products[i];
    for (int drive = 0; drive < 2; ++drive) {
      if (drive == 0 && p.volume.autoLetter) continue;
      uint32_t mask = 0;
      if (!LetterMask(drive == 0 ? p.volume.letters : p.volume.letters2, &mask))
        return "product '" + p.name + "': letters A-Z, each once";
      if (mask & used) return "product '" + p.name + "': a drive letter is already taken";
      used |= mask;
      r->letters[drive][i] = mask;
    }
  }
  for (size_t i = 0; i < config.products.size(); ++i) {
    if (!config.products[i].volume.autoLetter) continue;
    for (int letter = 'D' - 'A'; letter < 26; ++letter)
      if (!(used & (1u << letter))) {
        used |= 1u << letter;
        r->letters[0][i] = 1u << letter;
        break;
      }
  }
  return {};
}

}  // namespace sim
