#include "sdkstation/device_serials.h"

#include <array>
#include <span>

#include "sdkstation/sdk_pass_state.h"
#include "station/serial_numbers.h"

namespace sdkstation {

std::string AdvanceSerialNumber(const std::string& serial, int times, bool autoIncrement) {
  std::array<char, kUpdateSnSize + 1> text{};
  serial.copy(text.data(), kUpdateSnSize);
  if (autoIncrement)
    for (int i = 0; i < times; ++i) station::IncrementHexSerial(std::span<char>(text.data(), kUpdateSnSize));
  return text.data();
}

}  // namespace sdkstation
