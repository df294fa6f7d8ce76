// The second program's main window on a bench of our choosing, with the
// device library in its program folder as the program finds it there: the
// first program's window fixture with the library added.
#pragma once

#include <filesystem>
#include <string>

#include "sdkstation/tests/sdk_fixture.h"
#include "sdkstation/windows/main_form.h"
#include "station/windows/tests/window_fixture.h"

namespace sdkstation::testing {

using station::testing::Ini;

class SdkWindowTest : public station::testing::BasicWindowTest<TMainForm> {
 public:
  SdkWindowTest() { InstallLibrary(QVFW_LIBRARY); }

  // Puts `file` in the program folder as the device library.
  void InstallLibrary(const std::string& file) const {
    std::filesystem::copy_file(file, Path("QVFWUpdateDll.so"), std::filesystem::copy_options::overwrite_existing);
  }
  // Ends the window as the program's exit does.
  void Close() {
    form_.reset();
  }
};

}  // namespace sdkstation::testing
