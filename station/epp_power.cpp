#include "station/epp_power.h"

#include <string>

#include "bridge/port_table.h"
#include "bridge/vendor_commands.h"
#include "platform/clock.h"
#include "platform/message_box.h"

namespace station {
namespace {

// Set-up, identification and the output word, each command only after the
// one before it succeeded: a word from a failed read is never written to
// the outputs.
bool SwitchOn(PassState& pass, const char* path, uint32_t gpioDelayMs) {
  uint8_t word[2] = {};
  if (!bridge::ReadBridgeRegister(path, kEppGpioSetupRegister, word, sizeof word)) return false;
  word[1] &= static_cast<uint8_t>(~kEppOutputBits);
  if (!bridge::WriteBridgeRegister(path, kEppGpioSetupRegister, word, sizeof word)) return false;
  platform::Sleep(gpioDelayMs);
  if (!bridge::ReadBridgeId(path, word)) return false;
  word[1] = static_cast<uint8_t>((word[1] & ~kEppOutputBits) | kEppOutputOn);
  pass.EppGpioShadow.store(word[1]);
  const bool written = bridge::WriteBridgeRegister(path, kEppGpioOutputRegister, word, sizeof word) != 0;
  platform::Sleep(kEppSettleMs);
  return written;
}

// The shadow is the last value written to the output register; the writes
// are not checked (the next refresh looks at the shadow again).
void WriteOutputs(PassState& pass, const char* path, uint8_t value) {
  pass.EppGpioShadow.store(value);
  static_cast<void>(bridge::WriteBridgeRegister(path, kEppGpioOutputHigh, &value, 1));
}

void SwitchOffAndOn(PassState& pass, const char* path, uint32_t offDelayMs) {
  const uint8_t off = static_cast<uint8_t>(pass.EppGpioShadow.load() & ~kEppOutputBits);
  WriteOutputs(pass, path, off);
  platform::Sleep(offDelayMs);
  WriteOutputs(pass, path, static_cast<uint8_t>(off | kEppOutputOn));
  platform::Sleep(kEppSettleMs);
}

}  // namespace

void DriveEppPower(PassState& pass, const char* devicePath, const SettingsBlock& settings) {
  if (!pass.EppPowered) {
    bridge::SetFieldText(pass.EppDevicePath, devicePath);
    if (SwitchOn(pass, devicePath, static_cast<uint32_t>(settings.EPPPowerGPIODelay))) pass.EppPowered = 1;
    else platform::ShowMessage(kEppPowerFail);
    return;
  }
  if ((pass.EppGpioShadow.load() & kEppOutputOn) == 0)
    SwitchOffAndOn(pass, devicePath, static_cast<uint32_t>(settings.EPPPowerOffDelay));
}

void SwitchEppOutputsOff(PassState& pass) {
  const std::string path(bridge::FieldText(pass.EppDevicePath));
  WriteOutputs(pass, path.c_str(), static_cast<uint8_t>(pass.EppGpioShadow.load() & ~kEppOutputBits));
}

}  // namespace station
