// The second program's main window on a bench of our choosing, with the
// device library in its program folder as the program finds it there: the
// first program's window fixture with the library added.
#pragma once

#include <filesystem>
#include <string>

#include "platform/debug.h"
#include "sdkstation/device_sdk.h"
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
  // The library's firmware file and CLONE entries do nothing yet and say
  // nothing; these stand-ins write the call to the debug output as the
  // built entries do. Call after Start(), which binds the library.
  static void TraceFirmwareEntries() {
    DeviceSdk().QV_SetFWBinFilePath = [](const char* file) {
      platform::OutputDebugString(("QV_SetFWBinFilePath(\"" + std::string(file) + "\")").c_str());
      return 1;
    };
    DeviceSdk().QV_SetCloneProduct = [](int clone) {
      platform::OutputDebugString(("QV_SetCloneProduct(" + std::to_string(clone) + ")").c_str());
      return 1;
    };
  }
  // The identity a run's hand-over needs whole, and the serial to start from.
  void FillIdentity(const char* serial) {
    Type(Edit("VendorIDEdit"), "13FE");
    Type(Edit("ProductIDEdit"), "6300");
    Type(Edit("VendorStrEdit"), "KESTROVA");
    Type(Edit("ProdStrEdit"), "STATION");
    Type(Edit("StringBEdit"), "Disk");
    Type(Edit("StringCEdit"), "Maker");
    Type(Edit("SerialNumberEdit"), serial);
  }
  // Ends the window as the program's exit does.
  void Close() {
    form_.reset();
  }
};

}  // namespace sdkstation::testing
