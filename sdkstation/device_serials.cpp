#include "sdkstation/device_serials.h"

#include <array>
#include <span>

#include "sdkstation/sdk_pass_state.h"
#include "station/serial_numbers.h"

namespace sdkstation {

std::string AdvanceSerialNumber(const std::string& serial, int times, bool autoIncrement) {
  std::array<char, kUpdateSnSize + 1> text{};
  serial.copy(text.data(), kUpdateSnSize);
  const std::span<char> field(text.data(), kUpdateSnSize);
  // The last serial is where the counter stops: past it lie the numbers it began with.
  if (autoIncrement)
    for (int i = 0; i < times && !station::IsLastHexSerial(std::string_view(text.data())); ++i) station::IncrementHexSerial(field);
  return text.data();
}

}  // namespace sdkstation
