// Any stream of commands to a UFS device, in any configuration, with power
// cycles between them: no crash, no transfer past the host's buffer, an
// answer the bridge can carry, and a state that stays one of its own.
#include <cstdint>
#include <cstring>
#include <vector>

#include "sim/fuzz/fuzz_input.h"
#include "sim/ufs_unit.h"

using sim::fuzz::Check;
using sim::fuzz::Input;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const uint8_t setup = in.Byte();
  sim::UfsConfig config;
  config.present = true;
  config.enabled = (setup & 0x01) != 0;
  config.enableAfterReset = (setup & 0x02) != 0;
  config.writeProtected = (setup & 0x04) != 0;
  config.referenceClock = static_cast<uint8_t>((setup >> 3) & 0x03);
  sim::UfsUnit unit(config);
  while (!in.Done()) {
    const uint8_t head = in.Byte();
    if (head == 0xFF) {
      unit.PowerOn();
      continue;
    }
    const uint8_t cdbLength = static_cast<uint8_t>(1 + head % 16);
    uint8_t cdb[16] = {};
    for (uint8_t i = 0; i < cdbLength; ++i) cdb[i] = in.Byte();
    const bool dataIn = (in.Byte() & 1) != 0;
    const uint32_t length = static_cast<uint32_t>(in.Byte()) * 4;
    // Exactly the length the host gives: a byte beyond is the sanitizer's.
    std::vector<uint8_t> buffer(length);
    for (uint32_t i = 0; i < length && !dataIn; ++i) buffer[i] = in.Byte();
    const std::optional<sim::CommandResult> result =
        unit.Execute(cdb, cdbLength, dataIn, length ? buffer.data() : nullptr, length);
    if (result) {
      Check(result->transferred <= length);
      Check(result->status == 0 || result->status == 2);
    }
    Check(unit.referenceClock() <= 3);
  }
  return 0;
}
