// The interface thread during a sixteen-product pass started from START in
// the real window (offscreen) on the bench through the bound library: its
// CPU time for the whole click, the port updates the workers posted that it
// handled, and how often it rebuilt the rows for them.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "sdkstation/windows/main_form.h"
#include "sim/bench.h"
#include "station/station_messages.h"
#include "station/windows/program_entry.h"

namespace {

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

class UpdateCounter : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == static_cast<QEvent::Type>(station::kWmPortUpdate)) ++count;
    return false;
  }
};

std::string Products(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "[product p" + std::to_string(i) + "]\nchip = 29\nserial = 5" + std::to_string(2900 + i) + "\n";
  return text;
}

void Type(QLineEdit* edit, const char* text) { edit->setText(text); }

void SixteenProductPassInTheWindow(benchmark::State& state) {
  char pattern[] = "/tmp/kestrova_sdk_window_bench.XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  std::filesystem::copy_file(QVFW_LIBRARY, folder + "/QVFWUpdateDll.so");
  std::ofstream(folder + "/pattern.txt") << "00";
  std::ofstream(folder + "/Kestrova.ini")
      << "[setting]\r\nWriteFileName=pattern.txt\r\nMPPassLabel=1\r\n[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\nEnRWTest=1\r\n";
  platform::ScopedProgramFolder programFolder(folder);
  platform::RecordingMessageBoxSink boxes;
  platform::ScopedMessageBoxSink boxScope(&boxes);
  platform::ScopedClockScale clock(1000);
  std::string error;
  const std::shared_ptr<sim::Bench> bench = sim::Bench::FromText(Products(16), &error);
  platform::ScopedBackend backend(bench);

  for (auto _ : state) {
    sdkstation::TMainForm form;
    UpdateCounter updates;
    form.installEventFilter(&updates);
    QCoreApplication::processEvents();
    for (const auto& [name, text] : {std::pair{"VendorIDEdit", "13FE"}, std::pair{"ProductIDEdit", "6300"},
                                     std::pair{"VendorStrEdit", "KESTROVA"}, std::pair{"ProdStrEdit", "STATION"},
                                     std::pair{"StringBEdit", "Disk"}, std::pair{"StringCEdit", "Maker"},
                                     std::pair{"SerialNumberEdit", "00A0"}})
      Type(form.findChild<QLineEdit*>(name), text);
    const int redraws = form.PortRowRedraws();
    updates.count = 0;
    const int32_t tested = form.Settings().TotalTestCount;
    const double start = ThreadCpuMs();
    form.findChild<QPushButton*>("ExecuteBtn")->click();
    state.counters["ui_cpu_ms"] = ThreadCpuMs() - start;
    state.counters["port_updates"] = updates.count;
    state.counters["row_redraws"] = form.PortRowRedraws() - redraws;
    state.counters["counted"] = form.Settings().TotalTestCount - tested;
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(SixteenProductPassInTheWindow)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QApplication::setApplicationName(station::kApplicationTitle);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
