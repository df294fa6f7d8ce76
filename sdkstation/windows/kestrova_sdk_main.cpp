// KestrovaSdk: the station program that leaves the chip work to the device
// library QVFWUpdateDll, found in the program's folder.
#include "sdkstation/windows/detail_form.h"
#include "sdkstation/windows/main_form.h"
#include "station/windows/program_entry.h"

int main(int argc, char** argv) { return station::RunStationProgram<sdkstation::TMainForm>(argc, argv); }
