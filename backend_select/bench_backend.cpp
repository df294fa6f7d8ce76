// The programs and tests built here run on the simulated bench: the bench
// file named by KESTROVA_BENCH, or the embedded one.
#include "platform/backend.h"
#include "sim/bench.h"

namespace platform {

std::shared_ptr<Backend> SelectBackend() { return sim::Bench::CreateDefault(); }

}  // namespace platform
