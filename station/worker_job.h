// The block handed to one port worker: the station's shared pass state (in
// place of the main window), the way to tell the window that a port row
// changed, the port's slot, the worker's own copy of the settings and the
// state of the step controls as the user-interface thread saw them when the
// pass started. The controls are locked for the length of a pass, so the
// snapshot is what the worker would read from them.
#pragma once

#include <cstdint>
#include <functional>

#include "station/pass_state.h"
#include "station/settings_block.h"

namespace station {

// One check box as a worker reads it: its own checked, visible and enabled
// flags (not those of its parents).
struct ControlState {
  bool checked = false;
  bool visible = false;
  bool enabled = false;

  // A step with a check box runs only while the box is visible and enabled.
  [[nodiscard]] bool Usable() const { return visible && enabled; }
};

struct ControlSnapshot {
  ControlState PartitionCheckBox;
  ControlState FormatCheckBox;
  ControlState RWTestCheckBox;
  ControlState SWCopyChkBox;
  ControlState enFolderCPChk;
  ControlState vfVolLabelChk;
  ControlState vfHDDFWRevChk;
  ControlState cbEraseFlash;
  ControlState StrA2DiskStrChk;
  ControlState cbCloneProduct;
  int32_t FmtTypeComboBox = 0;  // item index: the file system of the format step
};

// Posts WM_PORT_UPDATE to the window (no arguments). Called from the worker's
// thread; it must only queue.
using PortUpdatePoster = std::function<void()>;

struct WorkerJob {
  PassState* pass = nullptr;
  PortUpdatePoster postPortUpdate;
  int32_t slot = 0;  // PortTable slot 0-15
  int32_t reserved = 0;
  ControlSnapshot controls;
  SettingsBlock settings = ZeroedSettingsBlock();
};

}  // namespace station
