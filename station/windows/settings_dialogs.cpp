#include "station/windows/settings_dialogs.h"

namespace station {

void SetUpSettingsDialogs(platform::FileDialogRequest& open, platform::FileDialogRequest& save) {
  for (platform::FileDialogRequest* dialog : {&open, &save}) {
    dialog->filter = "EEPROM INI file|*.ini";
    dialog->defaultExtension = ".ini";
  }
  save.kind = platform::FileDialogKind::kSave;
  save.overwritePrompt = true;
  save.hideReadOnly = true;
}

}  // namespace station
