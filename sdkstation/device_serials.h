// The serial number device i of a pass receives: the first serial advanced
// i times when auto-increment is on. START advances the window's serial by
// the same rule after a pass.
#pragma once

#include <string>

namespace sdkstation {

// `serial` (cut to its 80-byte field) advanced `times` times by
// IncrementHexSerial when `autoIncrement` is set, never past the last
// serial (station::IsLastHexSerial), which would wrap; unchanged otherwise.
std::string AdvanceSerialNumber(const std::string& serial, int times, bool autoIncrement);

}  // namespace sdkstation
