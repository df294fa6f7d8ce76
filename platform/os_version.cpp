#include "platform/os_version.h"

#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/device_io.h"

namespace platform {
namespace {

// The build each release reports (with its last service pack where it had one).
struct Release {
  uint32_t major, minor, build;
};
constexpr Release kReleases[] = {
    {5, 0, 2195}, {5, 1, 2600}, {5, 2, 3790}, {6, 0, 6002},
    {6, 1, 7601}, {6, 2, 9200}, {6, 3, 9600}, {10, 0, 19045},
};

}  // namespace

bool GetVersionEx(OsVersionInfo* info) {
  if (info == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const uint32_t size = info->dwOSVersionInfoSize;
  if (size != kOsVersionInfoExSize && size != kOsVersionInfoSize) {
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  uint32_t major = 0, minor = 0;
  uint16_t servicePack = 0;
  CurrentBackend().GetOsVersion(&major, &minor, &servicePack);
  // The basic record ends before the service-pack fields: write only its bytes.
  OsVersionInfo out{};
  out.dwOSVersionInfoSize = size;
  out.dwMajorVersion = major;
  out.dwMinorVersion = minor;
  out.dwPlatformId = 2;  // NT
  for (const Release& r : kReleases)
    if (r.major == major && r.minor == minor) out.dwBuildNumber = r.build;
  if (servicePack != 0)
    std::snprintf(out.szCSDVersion, sizeof out.szCSDVersion, "Service Pack %u", servicePack);
  out.wServicePackMajor = servicePack;
  out.wProductType = 1;  // workstation
  std::memcpy(info, &out, size);
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace platform
