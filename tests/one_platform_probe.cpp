// A library loaded the way the device library is: opened at run time and
// exporting only its own entries. It reports what it sees of the platform so
// that the test can compare with what the program sees.
#include <cstdint>

#include "bridge/vendor_commands.h"
#include "disk/device_lock.h"
#include "platform/backend.h"
#include "platform/clock.h"

extern "C" {

double ProbeClockScale() { return platform::ClockScale(); }
const void* ProbeBackend() { return &platform::CurrentBackend(); }
const void* ProbeDeviceLock() { return &disk::DeviceLock(); }
const void* ProbeRetryBound() { return &g_nHDDAccessRetry; }
int ProbeInquiry(const char* devicePath, uint8_t* buffer, uint32_t length) {
  return bridge::Inquiry(devicePath, buffer, length);
}

}  // extern "C"
