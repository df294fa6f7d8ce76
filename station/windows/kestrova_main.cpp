// Kestrova: the station program.
#include "platform/file_version.h"
#include "station/windows/detail_form.h"
#include "station/windows/main_form.h"
#include "station/windows/program_entry.h"

namespace {

// The program file's version block, numbered by the build; the window's
// caption reads it back from the file.
[[gnu::used]] const platform::VersionResource kVersionResource = platform::MakeVersionResource(
    KESTROVA_VERSION_MAJOR, KESTROVA_VERSION_MINOR, KESTROVA_VERSION_RELEASE, KESTROVA_VERSION_BUILD);

}  // namespace

int main(int argc, char** argv) { return station::RunStationProgram<station::TMainForm>(argc, argv); }
