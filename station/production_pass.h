// One production pass over every attached product, run on the
// user-interface thread: enumerate again, prepare what the workers share
// (the configuration block, the read/write pattern, the firmware file, the
// software image and its folder count), start one worker per present port
// with its own serial numbers, wait for them while the interface goes on
// handling its events, then log one row per port and show PASS or FAIL.
// What the pass shows goes through a PassHost: the main window, or nothing
// at all for a station without one.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bridge/usb_tree.h"
#include "platform/device_io.h"
#include "platform/event.h"
#include "platform/message_queue.h"
#include "station/day_log.h"
#include "station/device_mix.h"
#include "station/pass_option_block.h"
#include "station/pass_state.h"
#include "station/settings_block.h"
#include "station/worker_job.h"

namespace station {

inline constexpr char kFirmwareErrorCaption[] = "Firmware Error";
inline constexpr char kNotCloneFirmware[] =
    "Error: The selected firmware file doesn't appear to be CLONE product firmware. Please check the firmware file.";
inline constexpr char kCloneFirmware[] =
    "Error: The selected firmware file appears to be CLONE product firmware. Please check the firmware file.";
inline constexpr char kFirmwareTooLarge[] =
    "Error: The selected firmware file is larger than 256 KB. Please check the firmware file.";
inline constexpr char kFirmwareEmpty[] = "Error: The selected firmware file is empty. Please check the firmware file.";
inline constexpr char kMaxSerialReached[] = "Serial number reach the max setting number ";

inline constexpr int kTypeCPasses = 3;

// What the pass reads from the window's controls.
struct PassControls {
  IdentityControls identity;
  ControlSnapshot workers;        // the step boxes as the workers read them
  std::string softwareImagePath;  // SwImgPathEdit
  bool cloneProduct = false;      // cbCloneProduct
};

// The handles of the threads of a pass or a removal, by port slot.
using PortThreads = std::array<platform::Handle, bridge::kPortCount>;
bool AnyThreadActive(const PortThreads& threads);
// Closes and clears every handle.
void CloseThreads(PortThreads& threads);

// The members the pass keeps between passes (the window's, in the program).
struct PassMembers {
  PortThreads threads{};  // the workers' handles
  int32_t lastStartedSlot = -1;
  int32_t lastPassFailed = 0;
  // The rows of the current Type-C round, by pass index; START logs them.
  std::array<std::string, kTypeCPasses> typeCRows;
  // The yield of an earlier pass did not reach its file: the next pass
  // stores it before it starts anything, or does not start.
  bool yieldUnkept = false;
  // The last pass could not keep its serial numbers or its yield: the run
  // starts no further pass.
  bool unkept = false;
};

// The station state a pass works on.
struct StationPass {
  PassState& pass;
  SettingsBlock& settings;
  const DeviceMix& mix;
  bridge::EppDeviceRecord& eppDevice;
  DayLog& dayLog;
  platform::ManualResetEvent& passEnd;
  // WM_PORT_UPDATE goes here from the workers, and each thread's end.
  std::shared_ptr<platform::MessageQueue> queue;
  PassMembers& members;
  // The settings file the advanced serial numbers go to before any product
  // gets one (the window's current settings file).
  std::string iniPath;
};

// What the pass shows, and where it waits.
class PassHost {
 public:
  virtual ~PassHost() = default;
  // A port's tree node: image 1 while the pass looks at it, 0 when it is not
  // present.
  virtual void MarkNode(int slot, int image) = 0;
  // The progress at 0 and the wait panel with its animation.
  virtual void BeginWait() = 0;
  // The EEPROM type handler of the window, before the block is completed.
  virtual void RunEepromTypeHandler() = 0;
  virtual PassControls Controls() = 0;
  // Handles the interface's events until `done` holds; sleeps between
  // events, never spins.
  virtual void WaitUntil(const std::function<bool()>& done) = 0;
  // The animation stops.
  virtual void EndWait() = 0;
  // The serial numbers as the pass advanced them.
  virtual void ShowSerials() = 0;
  // The device list again, after a pass that ended before its workers.
  virtual void Refresh() = 0;
  virtual void ShowResult(bool allPass) = 0;
  virtual void SafeRemoveAll() = 0;
};

struct PassSummary {
  int32_t presentCount = 0;
  int32_t started = 0;  // workers started
  bool waited = false;  // the pass got as far as its workers
  bool allPass = false;
  bool logged = false;  // the day log took the rows
  bool kept = true;     // the serial numbers and the yield reached their files
};

PassSummary RunProductionPass(StationPass& station, PassHost& host);

}  // namespace station
