// Version tests over the extended version record, or the basic one when the
// system refuses the extended form.
#include "disk/os_version_tests.h"

#include <cstdint>

#include "platform/os_version.h"

namespace disk {
namespace {

struct Version {
  bool known = false;
  uint32_t major = 0;
  uint32_t minor = 0;
  uint16_t servicePack = 0;
};

Version QueryVersion() {
  platform::OsVersionInfo info = {};
  info.dwOSVersionInfoSize = platform::kOsVersionInfoExSize;
  if (platform::GetVersionEx(&info)) {
    return {true, info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor};
  }
  info = {};
  info.dwOSVersionInfoSize = platform::kOsVersionInfoSize;
  if (platform::GetVersionEx(&info)) return {true, info.dwMajorVersion, info.dwMinorVersion, 0};
  return {};
}

template <class Test>
int Check(Test test) {
  const Version v = QueryVersion();
  return v.known && test(v) ? 1 : 0;
}

}  // namespace

int IsWindows2000() { return Check([](const Version& v) { return v.major == 5 && v.minor == 0; }); }
int IsWindowsVista() {
  return Check([](const Version& v) { return v.major == 6 && v.minor == 0; });
}
int IsWindowsVistaSp() {
  return Check(
      [](const Version& v) { return v.major == 6 && v.minor == 0 && v.servicePack >= 1; });
}
int IsWindows7Through81() {
  return Check([](const Version& v) { return v.major == 6 && v.minor != 0; });
}
int IsWindows8Or81() {
  return Check([](const Version& v) { return v.major == 6 && (v.minor == 2 || v.minor == 3); });
}
int IsWindows10() { return Check([](const Version& v) { return v.major == 10 && v.minor == 0; }); }
int IsVistaOrLater() { return Check([](const Version& v) { return v.major > 5; }); }

int IsExFatOffered() {
  return (IsWindowsVista() ? IsWindowsVistaSp() : IsWindows7Through81() || IsWindows10()) != 0 ? 1 : 0;
}

}  // namespace disk
