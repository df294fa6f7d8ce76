// The block handed to one port worker of the second program, and what the
// workers of one pass share in place of the main window: the pass state
// (records, options, the hand-over's results), the locks, the relink
// meeting and the read/write test pattern.
#pragma once

#include <cstdint>

#include "sdkstation/relink_meeting.h"
#include "sdkstation/sdk_pass_state.h"
#include "sdkstation/sdk_settings_block.h"
#include "station/worker_job.h"

namespace sdkstation {

struct SdkRun {
  SdkPassState* pass = nullptr;
  SdkLocks* locks = nullptr;
  RelinkMeeting meeting;
  const uint8_t* pattern = nullptr;  // the first 64 KB test pattern page
};

struct SdkWorkerJob {
  SdkRun* run = nullptr;
  station::PortUpdatePoster postPortUpdate;  // WM_PORT_UPDATE to the main window
  int32_t port = 0;                          // record index 0..15
  // enFolderCPChk visible and enabled when the pass began: the controls stay
  // locked for the pass, and a worker never reads a control itself.
  bool folderCompareUsable = false;
  SdkSettingsBlock settings = ZeroedSdkSettingsBlock();
};

}  // namespace sdkstation
