// Faults tests arm on the system's services (programs, volume and raw disk
// requests, labels, formats): each matching request past `skip` fails,
// `count` times.
#pragma once

#include <atomic>
#include <mutex>
#include <string_view>
#include <vector>

#include "sim/bench_config.h"

namespace sim {

class SystemFaults {
 public:
  void Add(const SystemFault& fault);
  void Clear();
  // True (and the fault's error code, 0 for the request's usual one, and
  // whether the product leaves the bus) when an armed fault takes this
  // request.
  bool Take(SystemOp op, std::string_view target, uint32_t* error, bool* vanish = nullptr);

 private:
  struct Armed {
    SystemFault fault;
    int seen = 0;
    int fired = 0;
  };
  std::mutex mutex_;
  std::vector<Armed> faults_;
  std::atomic<bool> armed_{false};  // requests skip the lock while none is armed
};

}  // namespace sim
