// The program's version, compiled in from the build's project version.
#pragma once

namespace sdkstation {

struct ProgramVersion {
  int major;
  int minor;
  int release;
  int build;
};

inline constexpr ProgramVersion kProgramVersion{KESTROVA_VERSION_MAJOR, KESTROVA_VERSION_MINOR,
                                                KESTROVA_VERSION_RELEASE, KESTROVA_VERSION_BUILD};

}  // namespace sdkstation
