// Operating-system version tests: which format types are offered, which
// format route runs as administrator, and whether the shell's format prompt
// must be closed. Each answers 1 or 0; 0 also when the version is unknown.
#pragma once

namespace disk {

[[nodiscard]] int IsWindows2000();
[[nodiscard]] int IsWindowsVista();
[[nodiscard]] int IsWindowsVistaSp();
[[nodiscard]] int IsWindows7Through81();
[[nodiscard]] int IsWindows8Or81();
[[nodiscard]] int IsWindows10();
[[nodiscard]] int IsVistaOrLater();

// Whether "exFAT" is offered as a format type: Windows Vista with a service
// pack, Windows 7 to 8.1, Windows 10.
int IsExFatOffered();

}  // namespace disk
