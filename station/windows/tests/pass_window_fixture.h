// The main window running passes on the bench: products that take every
// step, a firmware file they accept, a software image, the settings file
// that turns every step on, the result window, and a way to act while a
// pass waits for its workers.
#pragma once

#include <QProgressBar>
#include <QStatusBar>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "station/tests/every_step_pass.h"
#include "station/windows/pass_form.h"
#include "station/windows/tests/pass_gate.h"
#include "station/windows/tests/window_fixture.h"

namespace station::testing {

// The gate on the first program's window.
class DuringPass : public PassGate {
 public:
  DuringPass(TMainForm& form, sim::Bench& bench, std::function<bool()> when, std::function<void()> action)
      : PassGate(
            form, bench, [&form] { form.PostPortUpdate(); }, [&form] { return form.Waiting(); }, std::move(when),
            std::move(action)) {}
};

class PassWindowTest : public WindowTest {
 public:
  ~PassWindowTest() override {
    form_.reset();
    passForm_.reset();
  }

  // The settings file that turns every step on (the identity check aside:
  // the window offers it only without the configuration update).
  std::string EveryStepIni(const std::string& setting = "", const std::string& execute = "") {
    WriteFile("fw.bin", Qvs887Firmware());
    std::filesystem::create_directories(Path("image/Drivers"));
    WriteFile("image/Setup.exe", std::string(70000, 'S'));
    WriteFile("image/Drivers/drv.sys", std::string(4097, '\x7f'));
    return Ini("MPResetWait=10\r\nRWDataSize=1\r\nShowRWPerf=1\r\n" + setting,
               "[QVEXECUTE]\r\nEnPartition=1\r\nEnFormat=1\r\nDiskFormat=1\r\nEnRWTest=1\r\nEnEEPROMUpdate=1\r\n"
               "EnFWUpdate=1\r\nEnSWCopy=1\r\nEnUSB30Check=1\r\nEnFolderCompare=1\r\n"
               "DiskLabel=KESTROVA\r\nFwFileName=" + Path("fw.bin") + "\r\nSwImgPath=" + Path("image") +
               "\\*.*\r\nSwDstFolder=Software\r\n" + execute +
               "[QVEEPROM]\r\nVenderID=1D6B\r\nProductID=0887\r\nStringA=Kestrova\r\nStringB=Station Disk\r\n"
               "String3=000000000101\r\nString3Inc=1\r\n");
  }
  // Only the identity check: a pass that costs little.
  std::string QuickIni(const std::string& setting = "", const std::string& more = "") {
    return Ini(setting, "[QVEXECUTE]\r\nEnVenderCheck=1\r\n[QVEEPROMVERIFY]\r\nVenderID=1D6B\r\nProductID=0100\r\n"
                        "StringA=Kestrova Sim\r\nStringB=USB Storage Bridge\r\n" + more);
  }

  TMainForm& StartWithResultWindow() {
    TMainForm& form = Start();
    passForm_ = std::make_unique<TPassForm>(&form);
    form.SetPassForm(passForm_.get());
    return form;
  }

  QTreeWidget* List() const { return Find<QTreeWidget>("ListView1"); }
  QString Cell(int row, int column) const { return List()->topLevelItem(row)->text(column); }
  std::string StatusText() const { return Find<QLabel>("StatusLabel")->text().toStdString(); }
  std::string Log() const { return Slurp(form_->DayLogPath()); }
  size_t LogLines() const {
    const std::string text = Log();
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  std::unique_ptr<TPassForm> passForm_;
};

}  // namespace station::testing
