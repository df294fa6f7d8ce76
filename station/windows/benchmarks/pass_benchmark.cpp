// One production pass over sixteen QVS887 products with every step on
// (firmware and configuration update with the relink after it, partition,
// FAT32 format, a 32 MB read/write test, a small copy and its compare), on
// the bench's time model, run twice: headless, and by START in the real
// window (offscreen). Printed per run: the station time of the pass, the
// real CPU seconds, and the interface thread's busy share during the wait
// (its CPU time over the real time of the wait). Against them: the ideal,
// the time of one product alone plus the time the other fifteen spent
// holding the device and speed locks (which no amount of parallelism can
// overlap), measured from the locks themselves. Goals: pass/ideal at most
// 1.2, window/headless at most 1.05. Measured here, never asserted.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QEvent>
#include <QPushButton>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "disk/device_lock.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/local_time.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "sim/bench.h"
#include "station/production_pass.h"
#include "station/settings_file.h"
#include "station/station_messages.h"
#include "station/port_rows.h"
#include "station/tests/every_step_pass.h"
#include "station/windows/main_form.h"

namespace station::benchmarks {
namespace {

constexpr int kProducts = 16;
// Station time runs this much faster than real time while threads sleep
// (device time, fixed pauses). The wait animation draws a frame every 10
// station ms, so the higher the scale the more frames per real second the
// interface thread draws: at 1 the pass takes its station time in real
// time and the window costs what it would at the station. Another scale
// may be given in KESTROVA_PASS_BENCHMARK_SCALE.
constexpr double kDefaultClockScale = 10;
double ClockScaleToUse() {
  const char* text = ::getenv("KESTROVA_PASS_BENCHMARK_SCALE");
  const double scale = text ? std::atof(text) : 0;
  return scale > 0 ? scale : kDefaultClockScale;
}
constexpr int64_t kPassDayUnixMs = 1706695200000;  // 2024-01-31 10:00

double CpuMs(clockid_t clock) {
  timespec t{};
  ::clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}
double RealMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double StationMs() { return static_cast<double>(platform::QueryPerformanceCounter()) / 1e6; }
double LocksHeldMs() {
  return static_cast<double>(disk::DeviceLock().HeldNanoseconds() + disk::SpeedLock().HeldNanoseconds()) / 1e6;
}

// The interface thread's CPU and real time between the wait's start and end.
struct WaitLoad {
  double cpuMs = 0, realMs = 0;
  double cpuAtStart = 0, realAtStart = 0;
  void Begin() {
    cpuAtStart = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    realAtStart = RealMs();
  }
  void End() {
    cpuMs += CpuMs(CLOCK_THREAD_CPUTIME_ID) - cpuAtStart;
    realMs += RealMs() - realAtStart;
  }
  double Share() const { return realMs > 0 ? cpuMs / realMs : 0; }
};

struct Run {
  bool ok = false;
  double stationMs = 0, locksMs = 0, cpuS = 0, realS = 0, uiBusy = 0;
};

// A program folder of its own with the files of the pass, products on the
// bench, message boxes answered and counted.
class Station {
 public:
  explicit Station(int products)
      : folder_(MakeFolder()), programFolder_(folder_), boxScope_(&boxes_), clock_(ClockScaleToUse()) {
    platform::SetLocalTime(kPassDayUnixMs);
    std::string error;
    bench_ = sim::Bench::FromText(testing::StepProducts(products, "", "high"), &error);
    if (bench_) backend_ = std::make_unique<platform::ScopedBackend>(bench_);
    std::filesystem::create_directories(folder_ + "/log");
    std::ofstream(folder_ + "/pattern.txt") << "00";
  }
  ~Station() {
    backend_.reset();
    std::filesystem::remove_all(folder_);
  }
  bool ready() const { return bench_ != nullptr; }
  const std::string& folder() const { return folder_; }
  size_t boxes() const { return boxes_.boxes().size(); }

 private:
  static std::string MakeFolder() {
    char pattern[] = "/tmp/kestrova_pass_benchmark.XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made ? made : "";
  }
  std::string folder_;
  platform::ScopedProgramFolder programFolder_;
  platform::RecordingMessageBoxSink boxes_;
  platform::ScopedMessageBoxSink boxScope_;
  platform::ScopedClockScale clock_;
  std::shared_ptr<sim::Bench> bench_;
  std::unique_ptr<platform::ScopedBackend> backend_;
};

// The pass without a window: rows counted as the window counts them, the
// wait on the message queue.
class HeadlessHost : public PassHost {
 public:
  HeadlessHost(StationPass& station, const PassControls& controls) : station_(station), controls_(controls) {
    station_.queue->SetHandler(kWmPortUpdate, [this] {
      CountPortResults(station_.pass.ports, station_.settings, false, 0);
    });
  }
  ~HeadlessHost() override { station_.queue->SetHandler(kWmPortUpdate, nullptr); }
  void MarkNode(int, int) override {}
  void BeginWait() override {}
  void RunEepromTypeHandler() override {}
  PassControls Controls() override { return controls_; }
  void WaitUntil(const std::function<bool()>& done) override {
    load.Begin();
    while (!done()) {
      station_.queue->Wait();
      station_.queue->Dispatch();
    }
    load.End();
  }
  void EndWait() override {}
  void ShowSerials() override {}
  void Refresh() override {}
  void ShowResult(bool) override {}
  void SafeRemoveAll() override {}
  WaitLoad load;

 private:
  StationPass& station_;
  PassControls controls_;
};

Run Headless(int products) {
  Station station(products);
  if (!station.ready()) return {};
  auto pass = std::make_unique<PassState>();
  SettingsBlock settings = ZeroedSettingsBlock();
  settings.MPResetWait = 10;
  settings.PerfShift = 1.0f;
  settings.EEPROMRetry = 1;
  PassControls controls;
  testing::SetUpEveryStep(station.folder(), settings, controls);
  DeviceMix mix;
  bridge::EppDeviceRecord epp;
  DayLog log;
  log.name = MakeDayLogName(station.folder() + "/log", 2024, 1, 31);
  log.path = log.name.Path(0);
  platform::ManualResetEvent passEnd;
  PassMembers members;
  // The serial numbers the pass gives out are kept in the station's settings file.
  const std::string iniPath = station.folder() + "/" + kSettingsFileName;
  std::ofstream(iniPath, std::ios::binary) << "[QVEEPROM]\r\n";
  StationPass s{*pass, settings, mix, epp, log, passEnd, std::make_shared<platform::MessageQueue>(), members, iniPath};
  HeadlessHost host(s, controls);

  const double station0 = StationMs(), locks0 = LocksHeldMs(), cpu0 = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
  const double real0 = RealMs();
  const PassSummary summary = RunProductionPass(s, host);
  Run run;
  run.realS = (RealMs() - real0) / 1e3;
  run.stationMs = StationMs() - station0;
  run.locksMs = LocksHeldMs() - locks0;
  run.cpuS = (CpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / 1e3;
  run.uiBusy = host.load.Share();
  run.ok = summary.started == products && summary.allPass && station.boxes() == 0;
  return run;
}

// The window's wait, seen from the events the interface thread handles:
// it begins at the first event while the pass waits for its workers and
// ends at the first one after.
class WaitWatch : public QObject {
 public:
  explicit WaitWatch(const TMainForm& form) : form_(form) {}
  bool eventFilter(QObject*, QEvent*) override {
    const bool waiting = form_.Waiting() && form_.RunActive();
    if (waiting && !inWait_) load.Begin();
    if (!waiting && inWait_) load.End();
    inWait_ = waiting;
    return false;
  }
  WaitLoad load;

 private:
  const TMainForm& form_;
  bool inWait_ = false;
};

Run Window(int products) {
  Station station(products);
  if (!station.ready()) return {};
  SettingsBlock unused = ZeroedSettingsBlock();
  PassControls files;
  testing::SetUpEveryStep(station.folder(), unused, files);  // the firmware file and the image
  const std::string f = station.folder();
  std::ofstream(f + "/" + kSettingsFileName, std::ios::binary)
      << "[setting]\r\nWriteFileName=pattern.txt\r\nMPResetWait=10\r\nRWDataSize=32\r\nMPPortReset=1\r\n"
         "MPPassLabel=1\r\n[QVEXECUTE]\r\nEnPartition=1\r\nEnFormat=1\r\nDiskFormat=1\r\nEnRWTest=1\r\n"
         "EnEEPROMUpdate=1\r\nEnFWUpdate=1\r\nEnSWCopy=1\r\nEnFolderCompare=1\r\nDiskLabel=KESTROVA\r\n"
         "FwFileName=" + f + "/fw.bin\r\nSwImgPath=" + f + "/image\\*.*\r\nSwDstFolder=Software\r\n"
         "[QVEEPROM]\r\nVenderID=1D6B\r\nProductID=0887\r\nStringA=Kestrova\r\nStringB=Station Disk\r\n"
         "String3=000000000101\r\nString3Inc=1\r\n";
  Run run;
  {
    TMainForm form;
    QCoreApplication::processEvents();
    auto* start = form.findChild<QPushButton*>("ExecuteBtn");
    if (!start || !start->isEnabled()) return {};
    WaitWatch watch(form);
    qApp->installEventFilter(&watch);
    const double station0 = StationMs(), locks0 = LocksHeldMs(), cpu0 = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const double real0 = RealMs();
    start->click();  // returns when the pass has ended
    QCoreApplication::processEvents();
    run.realS = (RealMs() - real0) / 1e3;
    run.stationMs = StationMs() - station0;
    run.locksMs = LocksHeldMs() - locks0;
    run.cpuS = (CpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / 1e3;
    run.uiBusy = watch.load.Share();
    qApp->removeEventFilter(&watch);
    run.ok = form.PassRecords().lastPassFailed == 0 && form.Settings().NumberOfPass == products &&
             station.boxes() == 0;
  }
  return run;
}

void SixteenProductPass(benchmark::State& state) {
  for (auto _ : state) {
    const Run alone = Headless(1);
    const Run headless = Headless(kProducts);
    const Run window = Window(kProducts);
    if (!alone.ok || !headless.ok || !window.ok) return state.SkipWithError("a pass did not pass every port");
    // The lone product's own hold is inside its time already.
    const double ideal = alone.stationMs + headless.locksMs - alone.locksMs;
    state.counters["alone_station_s"] = alone.stationMs / 1e3;
    state.counters["locks_held_s"] = headless.locksMs / 1e3;
    state.counters["ideal_station_s"] = ideal / 1e3;
    state.counters["headless_station_s"] = headless.stationMs / 1e3;
    state.counters["headless_over_ideal"] = headless.stationMs / ideal;
    state.counters["headless_cpu_s"] = headless.cpuS;
    state.counters["headless_real_s"] = headless.realS;
    state.counters["headless_ui_busy"] = headless.uiBusy;
    state.counters["window_station_s"] = window.stationMs / 1e3;
    state.counters["window_over_ideal"] = window.stationMs / ideal;
    state.counters["window_cpu_s"] = window.cpuS;
    state.counters["window_real_s"] = window.realS;
    state.counters["window_ui_busy"] = window.uiBusy;
    state.counters["window_over_headless"] = window.stationMs / headless.stationMs;
    state.counters["goal_over_ideal_at_most"] = 1.2;
    state.counters["goal_window_over_headless_at_most"] = 1.05;
    state.counters["clock_scale"] = ClockScaleToUse();
  }
}
BENCHMARK(SixteenProductPass)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace station::benchmarks

int main(int argc, char** argv) {
  // The real window, drawn offscreen unless a display is asked for.
  if (::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
