// Operating-system version tests: which format types are offered, which
// format route runs as administrator, and whether the shell's format prompt
// must be closed. Each answers 1 or 0; 0 also when the version is unknown.
#pragma once

namespace disk {

int IsWindows2000();
int IsWindowsVista();
int IsWindowsVistaSp();
int IsWindows7Through81();
int IsWindows8Or81();
int IsWindows10();
int IsVistaOrLater();

}  // namespace disk
