#include "sim/system_state.h"

#include <cctype>

namespace sim {

SystemState::SystemState(const SystemConfig& system, uint32_t networkMask)
    : config(system),
      osMajor(system.osMajor),
      osMinor(system.osMinor),
      servicePack(system.servicePack),
      networkLetters(networkMask) {
  config.windowsDrive = static_cast<char>(std::toupper(static_cast<unsigned char>(config.windowsDrive)));
}

bool SystemState::AtLeast(uint32_t major, uint32_t minor) const {
  return osMajor.load() * 100 + osMinor.load() >= major * 100 + minor;
}

uint32_t SystemState::FixedLetters() const {
  return (1u << (config.windowsDrive - 'A')) | networkLetters.load();
}

}  // namespace sim
