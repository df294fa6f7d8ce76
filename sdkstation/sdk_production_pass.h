// One production pass of the second program, run on the user-interface
// thread: the run-wide preparations (test pattern, software image and its
// folder count), one PortWorkerThread per listed device, the wait while the
// interface handles its events, then the UFS notices, the result log rows
// and the PASS/FAIL display. The window's part goes through an
// SdkPassHost.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/event.h"
#include "sdkstation/result_log.h"
#include "sdkstation/sdk_worker_job.h"
#include "station/day_log.h"
#include "station/pass_state.h"

namespace sdkstation {

inline constexpr char kUfsWriteProtectNotice[] = "UFS is write protect status!";
inline constexpr char kUfsDisabledNotice[] = "UFS was Disabled!\nRIDoda enable it now!!";
inline constexpr char kSoftwareImagePathInvalid[] = "Please make sure the software image path valid!";
inline constexpr char kMaxSerialReached[] = "Serial number reach the max setting number ";
inline constexpr char kLogOpenFailed[] = "Fail to open/create log file!";

// What the pass reads from the window's controls when it begins.
struct SdkPassControls {
  std::string softwareImagePath;     // SwImgPathEdit
  bool folderCompareUsable = false;  // enFolderCPChk visible and enabled
  ResultLogControls log;
};

// The window's side of a pass.
class SdkPassHost {
 public:
  virtual ~SdkPassHost() = default;
  // Progress back to 0; with devices attached the wait panel and animation.
  virtual void BeginWait(bool devicesAttached) = 0;
  virtual SdkPassControls Controls() = 0;
  // Handles the interface's events until `done` holds, waiting between
  // them a short bounded time; never spins.
  virtual void WaitUntil(const std::function<bool()>& done) = 0;
  virtual void EndWait() = 0;
  // The result window or the status label, as MPPassLabel says.
  virtual void ShowResult(bool allPass) = 0;
  // Removes the devices of `devicePaths` safely, one per port in order.
  virtual void SafeRemoveAll(const std::vector<std::string>& devicePaths) = 0;
};

// The state the pass works on, the main window's in the program.
struct SdkStationPass {
  SdkPassState& pass;
  SdkLocks& locks;
  SdkSettingsBlock& settings;  // the main window's block
  int32_t deviceCount = 0;     // devices the library listed
  station::DayLog& dayLog;
  platform::ManualResetEvent& passEvent;
  SdkRun& run;  // lives as long as the window: workers point into it
  station::PatternPages& patterns;
  // WM_PORT_UPDATE to the main window; also posted when a worker ends.
  station::PortUpdatePoster postPortUpdate;
  std::array<platform::Handle, kSdkPortCount>& threads;
  // The serial number the next run starts from (empty: this pass gives none
  // out) and the settings file it is kept in before any worker starts.
  std::string iniPath;
  std::string nextSerial;
};

struct SdkPassSummary {
  int32_t started = 0;  // workers started
  bool allPass = false;  // every device passed and its row was logged
  bool logged = false;
  bool refused = false;  // no worker started: the next serial number could not be kept
  bool kept = true;      // the next serial number and the yield reached their files
};

SdkPassSummary RunProductionPass(SdkStationPass& station, SdkPassHost& host);

// The UFS notice for the ports whose flag is set, or "" when none is.
std::string UfsNotice(const SdkPortTable& ports, int count, SharedWord<int32_t> SdkPortRecord::*flag,
                      const char* text);

}  // namespace sdkstation
