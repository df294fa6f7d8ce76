// The operating-system version the station asks for. On the bench it is a
// setting of the bench (Windows 10 by default), since the format routes and
// the port-speed query behave by version.
#pragma once

#include <cstdint>

namespace platform {

struct OsVersionInfo {
  uint32_t dwOSVersionInfoSize;  // 156 (extended) or 148 (basic)
  uint32_t dwMajorVersion;
  uint32_t dwMinorVersion;
  uint32_t dwBuildNumber;
  uint32_t dwPlatformId;
  char szCSDVersion[128];
  // Extended record only:
  uint16_t wServicePackMajor;
  uint16_t wServicePackMinor;
  uint16_t wSuiteMask;
  uint8_t wProductType;
  uint8_t wReserved;
};
inline constexpr uint32_t kOsVersionInfoExSize = 156;
inline constexpr uint32_t kOsVersionInfoSize = 148;

// Fills the record by its size field; false for any other size.
[[nodiscard]] bool GetVersionEx(OsVersionInfo* info);

}  // namespace platform
