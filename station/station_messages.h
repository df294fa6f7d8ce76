// The window messages of the station's user-interface thread, posted
// through its message queue (platform/message_queue.h).
#pragma once

#include <cstdint>

namespace station {

// A port record changed: the rows are drawn again and final results counted.
inline constexpr uint32_t kWmPortUpdate = 1026;
// A worker or removal thread has ended: whoever waits for them looks again.
inline constexpr uint32_t kWmThreadEnded = 0x8001;
// The wait animation's next frame, and its end.
inline constexpr uint32_t kWmWaitFrame = 0x8002;
inline constexpr uint32_t kWmWaitEnded = 0x8003;

}  // namespace station
