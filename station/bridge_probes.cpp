#include "station/bridge_probes.h"

#include "bridge/vendor_commands.h"

namespace station {
namespace {

// The register's byte, or -1 when the read fails.
int ReadRegisterByte(const char* devicePath, uint16_t address) {
  uint8_t value = 0;
  return bridge::ReadBridgeRegister(devicePath, address, &value, 1) ? value : -1;
}

}  // namespace

int IsUsb3Enabled(const char* devicePath) {
  const int value = ReadRegisterByte(devicePath, kUsbModeRegister);
  return value >= 0 && (value & kUsb3EnabledBit) ? 1 : 0;
}

int IsRegister70C8Bit3Set(const char* devicePath) {
  const int value = ReadRegisterByte(devicePath, kRegister70C8);
  return value >= 0 && (value & kRegister70C8Bit3) ? 1 : 0;
}

uint8_t ReadRegister703BMode(const char* devicePath) {
  const int value = ReadRegisterByte(devicePath, kModeRegister703B);
  if (value < 0) return 0;
  return static_cast<uint8_t>((value & kModeFieldMask) << 4 | kModeByteBase);
}

int IsIdentifyBitSet(const char* devicePath, int port) {
  if (port != 0 && port != 1) return 0;
  uint8_t identify[bridge::kIdentifyDataSize] = {};
  if (!bridge::BridgeIdentifyDevice(devicePath, port ? bridge::kAtaDeviceSlave : bridge::kAtaDeviceMaster,
                                    bridge::kAtaIdentifyDevice, identify)) {
    return 0;
  }
  const uint16_t word = static_cast<uint16_t>(identify[2 * kIdentifyWord106] |
                                              identify[2 * kIdentifyWord106 + 1] << 8);
  return word & kSectorSizeBits ? 1 : 0;
}

}  // namespace station
