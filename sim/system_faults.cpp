#include "sim/system_faults.h"

#include "platform/text.h"

namespace sim {

void SystemFaults::Add(const SystemFault& fault) {
  std::lock_guard lock(mutex_);
  faults_.push_back({fault, 0, 0});
  armed_.store(true);
}

void SystemFaults::Clear() {
  std::lock_guard lock(mutex_);
  faults_.clear();
  armed_.store(false);
}

bool SystemFaults::Take(SystemOp op, std::string_view target, uint32_t* error, bool* vanish) {
  if (!armed_.load()) return false;
  std::lock_guard lock(mutex_);
  for (Armed& armed : faults_) {
    const SystemFault& f = armed.fault;
    if (f.op != op) continue;
    if (!f.target.empty() && !platform::EqualNoCase(f.target, target)) continue;
    if (armed.seen++ < f.skip) continue;
    if (f.count >= 0 && armed.fired >= f.count) continue;
    ++armed.fired;
    *error = f.error;
    if (vanish) *vanish = f.vanish;
    return true;
  }
  return false;
}

}  // namespace sim
