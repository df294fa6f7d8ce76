// The file dialogs of Load INI and Save INI, alike in both programs.
#pragma once

#include "platform/file_dialog.h"

namespace station {

// Both ask for settings files (*.ini); the save dialog asks before it
// overwrites and hides the read-only choice.
void SetUpSettingsDialogs(platform::FileDialogRequest& open, platform::FileDialogRequest& save);

}  // namespace station
