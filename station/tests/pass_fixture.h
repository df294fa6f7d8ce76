// A production pass on the bench without a window: the station's state as
// the main window keeps it, a host that shows nothing and waits on the
// message queue (counting each final result as the window's rebuild does),
// a program folder with its log folder, recorded message boxes and a fast
// station clock.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/local_time.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "sim/bench.h"
#include "station/port_rows.h"
#include "station/production_pass.h"
#include "station/station_messages.h"
#include "station/tests/csv_reader.h"
#include "station/tests/settings_fixture.h"

namespace station::testing {

// 2024-01-31 10:00 local.
inline constexpr int64_t kPassDayUnixMs = 1706695200000;

class HeadlessHost : public PassHost {
 public:
  HeadlessHost(StationPass& station) : station_(station) {
    station_.queue->SetHandler(kWmPortUpdate, [this] {
      ++rebuilds;
      CountPortResults(station_.pass.ports, station_.settings, station_.settings.EnEPPTypeC != 0,
                       station_.pass.EppPassIndex);
    });
  }
  ~HeadlessHost() override { station_.queue->SetHandler(kWmPortUpdate, nullptr); }

  void MarkNode(int slot, int image) override { nodes[static_cast<size_t>(slot)] = image; }
  void BeginWait() override { ++waits; }
  void RunEepromTypeHandler() override {}
  PassControls Controls() override { return controls; }
  void WaitUntil(const std::function<bool()>& done) override {
    if (onWaitBegins) onWaitBegins();
    while (!done()) {
      station_.queue->Wait();
      station_.queue->Dispatch();
    }
  }
  void EndWait() override {
    ++waitEnds;
    if (onWaitEnds) onWaitEnds();
  }
  void ShowSerials() override {}
  void Refresh() override { ++refreshes; }
  void ShowResult(bool allPass) override {
    results.push_back(allPass);
    if (onResult) onResult();
  }
  void SafeRemoveAll() override { ++removals; }

  PassControls controls;
  // Run, when set, as the workers have started, as they have ended (before
  // the yield and the rows), and as the result shows.
  std::function<void()> onWaitBegins, onWaitEnds, onResult;
  std::array<int, bridge::kPortCount> nodes{};
  int waits = 0, waitEnds = 0, refreshes = 0, removals = 0, rebuilds = 0;
  std::vector<bool> results;

 private:
  StationPass& station_;
};

class PassBench {
 public:
  explicit PassBench(const std::string& benchText, double clockScale = 2000)
      : folder_(MakeTempFolder()),
        programFolder_(folder_),
        boxScope_(&boxes_),
        clock_(clockScale),
        queue_(std::make_shared<platform::MessageQueue>()),
        station_{*pass_, settings_, mix_, epp_, dayLog_, passEnd_, queue_, members_, folder_ + "/Kestrova.ini"},
        host_(station_) {
    platform::SetLocalTime(kPassDayUnixMs);
    std::string error;
    bench_ = sim::Bench::FromText(benchText, &error);
    EXPECT_TRUE(bench_) << error;
    if (bench_) backend_ = std::make_unique<platform::ScopedBackend>(bench_);
    std::filesystem::create_directories(folder_ + "/log");
    Spit(folder_ + "/" + kSettingsFileName, "");  // where the pass keeps the serial numbers it gives out
    dayLog_.name = MakeDayLogName(folder_ + "/log", 2024, 1, 31);
    dayLog_.number = 0;
    dayLog_.path = dayLog_.name.Path(0);
    settings_ = ZeroedSettingsBlock();
    settings_.MPResetWait = 10;
    settings_.PerfShift = 1.0f;
    settings_.RWDataSize = 1;
    settings_.EEPROMRetry = 1;
    settings_.TableType = 3;
  }
  ~PassBench() {
    backend_.reset();
    std::filesystem::remove_all(folder_);
  }

  PassSummary Run() { return RunProductionPass(station_, host_); }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  sim::Bench& bench() { return *bench_; }
  PassState& pass() { return *pass_; }
  SettingsBlock& settings() { return settings_; }
  StationOptions& options() { return pass_->options; }
  DeviceMix& mix() { return mix_; }
  DayLog& dayLog() { return dayLog_; }
  PassMembers& members() { return members_; }
  HeadlessHost& host() { return host_; }
  platform::ManualResetEvent& passEnd() { return passEnd_; }
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes_.boxes()) texts.push_back(box.caption + ": " + box.text);
    return texts;
  }
  // The present record whose USB serial is `serial`; null when none.
  const bridge::PortRecord* RecordOf(const std::string& serial) const {
    for (const bridge::PortRecord& r : pass_->ports.records)
      if (r.present && bridge::FieldText(r.usbSerial) == serial) return &r;
    return nullptr;
  }

 private:
  std::string folder_;
  platform::ScopedProgramFolder programFolder_;
  platform::RecordingMessageBoxSink boxes_;
  platform::ScopedMessageBoxSink boxScope_;
  platform::ScopedClockScale clock_;
  std::shared_ptr<sim::Bench> bench_;
  std::unique_ptr<platform::ScopedBackend> backend_;
  std::unique_ptr<PassState> pass_ = std::make_unique<PassState>();
  SettingsBlock settings_ = ZeroedSettingsBlock();
  DeviceMix mix_;
  bridge::EppDeviceRecord epp_;
  DayLog dayLog_;
  platform::ManualResetEvent passEnd_;
  std::shared_ptr<platform::MessageQueue> queue_;
  PassMembers members_;
  StationPass station_;
  HeadlessHost host_;
};

}  // namespace station::testing
