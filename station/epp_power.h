// The power switch of the Type-C test fixture: a bridge whose GPIO outputs
// power the product under test, driven through two of its registers. The
// device list refresh switches it on when it first sees it and switches a
// dropped output back on at later refreshes.
#pragma once

#include <cstdint>

#include "station/pass_state.h"
#include "station/settings_block.h"

namespace station {

inline constexpr uint16_t kEppGpioSetupRegister = 0x7054;   // 2 bytes
inline constexpr uint16_t kEppGpioOutputRegister = 0x7058;  // 2 bytes, little-endian
inline constexpr uint16_t kEppGpioOutputHigh = 0x7059;      // bits 8-15 of the output word
inline constexpr uint8_t kEppOutputOn = 0x08;               // bit 11 of the word
inline constexpr uint8_t kEppOutputAux = 0x10;              // bit 12 of the word
inline constexpr uint8_t kEppOutputBits = kEppOutputOn | kEppOutputAux;
inline constexpr uint32_t kEppSettleMs = 200;

inline constexpr char kEppPowerFail[] = "EEP : Control power Fail !!";

// The refresh's power step for the device at `devicePath`. At first sight
// (EppPowered clear) the outputs are set up and switched on; EppPowered is
// set when every command succeeded, else the plain message says so and the
// next refresh tries again. Once powered, an output that reads off in the
// shadow is switched off and on again.
void DriveEppPower(PassState& pass, const char* devicePath, const SettingsBlock& settings);

// Both outputs off (at shut-down); the write is not checked.
void SwitchEppOutputsOff(PassState& pass);

}  // namespace station
