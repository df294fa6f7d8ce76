// A station session without a window, for tests that end it as a failing
// factory would: production passes of the first program or of the second
// (through the device library in the program folder) on the bench that
// KESTROVA_BENCH names, with the settings file, the day log, the yield and
// the serial numbers as the programs keep them in their program folder.
// With "stop" it prints the serial number each product was given once
// every product holds its new identity, and waits there, in the middle of
// the pass, for the caller to kill it.
//
//   pass_session first|sdk <program folder> <passes> [stop]
//
// Standard output: "given <serial>" per product and "waiting" at the stop;
// "pass <workers started> <1 all passed, 0 not>" after each pass.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/local_time.h"
#include "platform/message_queue.h"
#include "platform/program_folder.h"
#include "sdkstation/device_listing.h"
#include "sdkstation/device_sdk.h"
#include "sdkstation/device_serials.h"
#include "sdkstation/identity_handover.h"
#include "sdkstation/sdk_production_pass.h"
#include "sdkstation/sdk_settings_file.h"
#include "sdkstation/sdk_yield.h"
#include "station/port_rows.h"
#include "station/production_pass.h"
#include "station/settings_file.h"
#include "station/station_messages.h"

namespace {

// The caller kills the process here.
[[noreturn]] void StopHere() {
  std::puts("waiting");
  std::fflush(stdout);
  for (;;) ::pause();
}

station::DayLog TodaysLog() {
  const platform::LocalTime now = platform::GetLocalTime();
  station::DayLog log;
  log.name = station::MakeDayLogName(platform::ResolveInProgramFolder(station::kLogFolderName), now.year, now.month,
                                     now.day);
  log.number = station::FindRunningNumber(log.name);
  log.path = log.name.Path(log.number);
  return log;
}

// Waits on the queue as the window does; after every message `check` may
// stop the session, and once more when the workers have ended: the last of
// them may have got there and ended between two messages.
void Dispatch(platform::MessageQueue& queue, const std::function<bool()>& done, const std::function<void()>& check) {
  while (!done()) {
    queue.Wait();
    queue.Dispatch();
    check();
  }
  check();
}

class FirstHost : public station::PassHost {
 public:
  FirstHost(station::StationPass& s, bool stop) : s_(s), stop_(stop) {
    s_.queue->SetHandler(station::kWmPortUpdate, [this] {
      station::CountPortResults(s_.pass.ports, s_.settings, false, s_.pass.EppPassIndex);
    });
  }
  void MarkNode(int, int) override {}
  void BeginWait() override {}
  void RunEepromTypeHandler() override {}
  station::PassControls Controls() override { return {}; }
  void WaitUntil(const std::function<bool()>& done) override { Dispatch(*s_.queue, done, [this] { Check(); }); }
  void EndWait() override {}
  void ShowSerials() override {}
  void Refresh() override {}
  void ShowResult(bool) override {}
  void SafeRemoveAll() override {}

 private:
  void Check() {
    if (!stop_) return;
    for (const bridge::PortRecord& r : s_.pass.ports.records)
      if (r.present && r.configurationStatus != bridge::kStepPass) return;
    for (const bridge::PortRecord& r : s_.pass.ports.records)
      if (r.present) std::printf("given %s\n", std::string(bridge::FieldText(r.logSerial)).c_str());
    StopHere();
  }
  station::StationPass& s_;
  bool stop_;
};

int RunFirst(int passes, bool stop) {
  auto pass = std::make_unique<station::PassState>();
  station::SettingsBlock settings = station::ZeroedSettingsBlock();
  if (station::LoadSettings(station::DefaultIniPath(), settings, pass->options).settingsRead != 1) return 2;
  station::DayLog log = TodaysLog();
  station::DeviceMix mix;
  bridge::EppDeviceRecord epp;
  platform::ManualResetEvent passEnd(false);
  station::PassMembers members;
  station::StationPass s{*pass, settings, mix, epp, log, passEnd, std::make_shared<platform::MessageQueue>(),
                         members, station::DefaultIniPath()};
  FirstHost host(s, stop);
  for (int n = 0; n < passes; ++n) {
    const station::PassSummary summary = station::RunProductionPass(s, host);
    std::printf("pass %d %d\n", summary.started, summary.allPass ? 1 : 0);
    if (!summary.kept) return 3;
  }
  return 0;
}

class SdkHost : public sdkstation::SdkPassHost {
 public:
  SdkHost(platform::MessageQueue& queue, sdkstation::SdkPassState& pass, int count, bool stop,
          const sdkstation::SdkPassControls& controls)
      : queue_(queue), pass_(pass), count_(count), stop_(stop), controls_(controls) {}
  void BeginWait(bool) override {}
  sdkstation::SdkPassControls Controls() override { return controls_; }
  void WaitUntil(const std::function<bool()>& done) override { Dispatch(queue_, done, [this] { Check(); }); }
  void EndWait() override {}
  void ShowResult(bool) override {}
  void SafeRemoveAll(const std::vector<std::string>&) override {}

 private:
  void Check() {
    if (!stop_) return;
    for (int i = 0; i < count_; ++i)
      if (pass_.ports[static_cast<size_t>(i)].identityStatus != bridge::kStepPass) return;
    for (int i = 0; i < count_; ++i) std::printf("given %s\n", pass_.m_UpdateSN[static_cast<size_t>(i)].data());
    StopHere();
  }
  platform::MessageQueue& queue_;
  sdkstation::SdkPassState& pass_;
  int count_;
  bool stop_;
  sdkstation::SdkPassControls controls_;
};

int RunSdk(int passes, bool stop) {
  const platform::Module module = sdkstation::BindDeviceSdk();
  if (module == nullptr) return 2;
  auto pass = std::make_unique<sdkstation::SdkPassState>();
  sdkstation::SdkSettingsBlock settings = sdkstation::ZeroedSdkSettingsBlock();
  if (sdkstation::LoadSettings(station::DefaultIniPath(), settings, pass->options).settingsRead != 1) return 2;
  station::DayLog log = TodaysLog();
  sdkstation::SdkLocks locks;
  sdkstation::SdkRun run;
  station::PatternPages patterns;
  platform::ManualResetEvent passEvent(false);
  std::array<platform::Handle, sdkstation::kSdkPortCount> threads;
  threads.fill(platform::kInvalidHandle);
  const auto queue = std::make_shared<platform::MessageQueue>();
  sdkstation::DeviceList list;
  int32_t attached = 0;
  queue->SetHandler(station::kWmPortUpdate, [&] { sdkstation::CountSdkResults(pass->ports, attached, settings); });
  for (int n = 0; n < passes; ++n) {
    int64_t freeSpace = 0;
    static_cast<void>(sdkstation::ListAttachedDevices(list, pass->ports, attached, freeSpace));
    static_cast<void>(sdkstation::DeviceSdk().QV_InitialCustomizedSettingTable());
    // The identity as the window's controls show it after the load.
    const std::string serial(station::FieldText(settings.String3));
    const bool increment = settings.String3Inc != 0;
    sdkstation::IdentityControls identity;
    identity.vendorId = station::FieldText(settings.VenderID);
    identity.productId = station::FieldText(settings.ProductID);
    identity.serialNumber = serial;
    identity.stringB = station::FieldText(settings.StringB);
    identity.stringC = station::FieldText(settings.StringC);
    identity.autoIncrement = increment;
    sdkstation::HandOverIdentity(list, attached, identity, *pass);
    const std::string next = sdkstation::AdvanceSerialNumber(serial, attached, increment);
    sdkstation::SdkPassControls controls;
    controls.log.vendorId = identity.vendorId;
    controls.log.productId = identity.productId;
    controls.log.serialNumber = serial;
    controls.log.stringB = identity.stringB;
    controls.log.stringC = identity.stringC;
    controls.log.autoIncrement = increment;
    SdkHost host(*queue, *pass, attached, stop, controls);
    sdkstation::SdkStationPass s{*pass, locks, settings, attached, log, passEvent, run, patterns,
                                 [queue] { queue->Post(station::kWmPortUpdate); }, threads,
                                 station::DefaultIniPath(), next != serial ? next : std::string()};
    const sdkstation::SdkPassSummary summary = sdkstation::RunProductionPass(s, host);
    queue->Dispatch();
    std::printf("pass %d %d\n", summary.started, summary.allPass ? 1 : 0);
    if (!summary.kept) return 3;
    station::SetFieldText(settings.String3, next);  // as START advances it after the pass
  }
  return sdkstation::UnbindDeviceSdk(module) ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s first|sdk <program folder> <passes> [stop]\n", argv[0]);
    return 1;
  }
  const std::string program = argv[1];
  const platform::ScopedProgramFolder folder(argv[2]);
  const int passes = std::atoi(argv[3]);
  const bool stop = argc > 4 && std::string(argv[4]) == "stop";
  // Device time passes quickly; what is tested happens at events, not times.
  platform::SetClockScale(1000);
  static_cast<void>(platform::CurrentBackend());
  const int status = program == "sdk" ? RunSdk(passes, stop) : RunFirst(passes, stop);
  std::fflush(stdout);
  return status;
}
