#include "station/station_lock.h"

#include <cstdio>
#include <string>

#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "station/settings_engine.h"

namespace station {

std::unique_ptr<platform::InstanceLock> LockProgramFolder() {
  auto lock = std::make_unique<platform::InstanceLock>(platform::ResolveInProgramFolder(kStationLockFileName));
  if (!lock->Refused()) return lock;
  const std::string text = WithPath(kStationRunsAlready, platform::ProgramFolder());
  // Also where a start from a script or a terminal shows it.
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  ShowSettingsError(text);
  return nullptr;
}

}  // namespace station
