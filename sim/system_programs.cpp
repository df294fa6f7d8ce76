#include "sim/system_programs.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/clock.h"
#include "platform/text.h"
#include "sim/bench_handle.h"
#include "sim/volume_system.h"

namespace sim {
namespace {

constexpr uint32_t kErrorNoAssociation = 1155;

}  // namespace

bool SystemPrograms::ShellExecute(const platform::ShellExecuteInfo& info, platform::Handle* process,
                                  uint32_t* error) {
  *process = platform::kInvalidHandle;
  const std::string verb = info.lpVerb ? platform::AsciiLower(info.lpVerb) : "";
  if (!verb.empty() && verb != "open" && verb != "runas") {
    *error = kErrorNoAssociation;
    return false;
  }
  std::unique_lock lock(volumes_.mutex());
  const std::string file = info.lpFile;
  std::string name = platform::AsciiLower(BaseName(file));
  const bool hasPath = file.find_first_of("\\/:") != std::string::npos;
  uint32_t faultError = 0;
  if (volumes_.faults().Take(SystemOp::Start, name, &faultError)) {
    *error = faultError ? faultError : platform::kErrorFileNotFound;
    return false;
  }
  if (verb == "runas" && volumes_.system().AtLeast(6, 0) &&
      volumes_.faults().Take(SystemOp::Start, "runas", &faultError)) {
    *error = faultError ? faultError : platform::kErrorCancelled;
    return false;
  }
  // The program or document must be there: a bare name is looked for in the
  // system folder, a path where it says.
  std::string host;
  if (hasPath) {
    host = volumes_.HostPathOfLocked(file);
  } else {
    if (name.find('.') == std::string::npos) name += ".exe";
    host = volumes_.SystemFolder() + "/Windows/system32/" + name;
  }
  struct stat sb {};
  if (host.empty() || ::stat(host.c_str(), &sb) != 0 || S_ISDIR(sb.st_mode)) {
    *error = platform::kErrorFileNotFound;
    return false;
  }
  ProgramRun programs(volumes_, log_);
  RunResult result;
  const std::string parameters = info.lpParameters ? info.lpParameters : "";
  if (name.ends_with(".bat") || name.ends_with(".cmd")) {
    log_.Add(file + (parameters.empty() ? "" : " " + parameters));
    result = programs.Batch(host);
  } else {
    bool started = true;
    result = programs.Program(ProgramOf(name), parameters, &started, error);
    if (!started) return false;
  }
  auto* p = new BenchProcess(&owner_);
  p->commandLine = file + " " + parameters;
  p->exitCode = result.exitCode;
  p->endsAt = result.hangs ? BenchProcess::kNever : NowMs() + result.durationMs;
  openHandles_.fetch_add(1, std::memory_order_relaxed);
  *process = p;
  return true;
}

uint32_t SystemPrograms::WaitProcess(platform::Handle process, uint32_t milliseconds) {
  auto* p = static_cast<BenchProcess*>(process);
  const uint64_t start = NowMs();
  for (;;) {
    uint64_t endsAt = 0;
    {
      std::lock_guard lock(processMutex_);
      if (p->terminated) return platform::kWaitObject0;
      endsAt = p->endsAt;
    }
    const uint64_t now = NowMs();
    if (now >= endsAt) return platform::kWaitObject0;
    if (milliseconds != platform::kInfinite && now - start >= milliseconds) return platform::kWaitTimeout;
    uint64_t step = std::min<uint64_t>(endsAt - now, 100);
    if (milliseconds != platform::kInfinite) step = std::min<uint64_t>(step, start + milliseconds - now);
    platform::Sleep(static_cast<uint32_t>(std::max<uint64_t>(step, 1)));
  }
}

bool SystemPrograms::ProcessExitCode(platform::Handle process, uint32_t* exitCode) {
  auto* p = static_cast<BenchProcess*>(process);
  std::lock_guard lock(processMutex_);
  *exitCode = (p->terminated || NowMs() >= p->endsAt) ? p->exitCode : platform::kStillActive;
  return true;
}

bool SystemPrograms::TerminateProcess(platform::Handle process, uint32_t exitCode) {
  auto* p = static_cast<BenchProcess*>(process);
  std::lock_guard lock(processMutex_);
  if (p->terminated || NowMs() >= p->endsAt) return false;
  p->terminated = true;
  p->exitCode = exitCode;
  return true;
}

bool SystemPrograms::HasModule(const char* module, const char* entry) const {
  (void)entry;
  return volumes_.system().config.formatService && platform::EqualNoCase(module, "fmifs.dll");
}

void SystemPrograms::FormatEx(const char16_t* driveRoot, const char16_t* fileSystemName, const char16_t* label,
                              bool quick, uint32_t clusterSize, platform::FmifsCallback callback) {
  auto narrow = [](const char16_t* text) {
    size_t n = 0;
    while (text && text[n]) ++n;
    return platform::WideToAnsi(text ? text : u"", n);
  };
  const std::string root = narrow(driveRoot), fsName = narrow(fileSystemName), text = narrow(label);
  uint8_t success = 0;
  if (callback == nullptr) return;
  if (root.size() < 2 || root[1] != ':') {
    callback(platform::kFmifsDone, 0, &success);
    return;
  }
  // The service's own text carries the caller's label and a percent sign:
  // it is text, never a format.
  std::string message;
  int code = 0;
  {
    std::lock_guard lock(volumes_.mutex());
    code = volumes_.FormatVolume(root[0], fsName, text, clusterSize, true, &message);
  }
  for (uint32_t percent : {0u, 50u, 100u}) callback(platform::kFmifsProgress, 0, &percent);
  if (!quick) platform::Sleep(kFormatMs);
  const std::string line = code == 0 ? "Volume " + text + " formatted: 100% of the structures written.\n"
                                     : message + "\n";
  platform::FmifsTextOutput output{1, line.c_str()};
  callback(platform::kFmifsOutput, 0, &output);
  success = code == 0;
  callback(platform::kFmifsDone, 0, &success);
}

}  // namespace sim
