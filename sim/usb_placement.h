// Where everything of a bench description sits: each hub, product and
// device on a hub port, the speed each link runs at, and the drive letters
// of the products' volumes. Checked before anything is built.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/bench_config.h"

namespace sim {

// A port of a hub and what is plugged into it.
enum class Attached : uint8_t { None, Product, Device, Hub };
struct PortSlot {
  Attached kind = Attached::None;
  size_t index = 0;
  uint16_t address = 0;  // USB address on its bus
};

// The topology of a description, resolved: which hub and port each thing
// sits on, at what speed, with which letters.
struct Placement {
  int hub = -1;
  uint32_t port = 0;
  UsbSpeed speed = UsbSpeed::High;
  UsbSpeed maxSpeed = UsbSpeed::High;
};

struct ResolvedTopology {
  std::vector<HubConfig> hubs;
  std::vector<int> hubParent;
  std::vector<uint32_t> hubParentPort;
  std::vector<UsbSpeed> hubCap;
  std::vector<std::vector<PortSlot>> ports;
  std::vector<Placement> products, devices;
  std::vector<uint32_t> letters[2];
  uint32_t networkLetters = 0;
};

// Empty when the description can be built (and *r says how), else why not.
std::string ResolveTopology(const BenchConfig& config, ResolvedTopology* r);

}  // namespace sim
