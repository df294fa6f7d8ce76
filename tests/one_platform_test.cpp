// One platform per process: a library opened at run time, exporting only its
// own entries, answers from the program's backend, clock and locks, not from
// copies of its own.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "bridge/tests/bench_fixture.h"
#include "disk/device_lock.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "sim/bench.h"

namespace {

struct ModuleCloser {
  void operator()(void* module) const { dlclose(module); }
};

class OnePlatform : public ::testing::Test {
 protected:
  template <typename Function>
  Function* Entry(const char* name) {
    void* entry = dlsym(module_.get(), name);
    EXPECT_NE(entry, nullptr) << name;
    return reinterpret_cast<Function*>(entry);
  }

  std::unique_ptr<void, ModuleCloser> module_{dlopen(KESTROVA_PROBE_MODULE, RTLD_NOW | RTLD_LOCAL)};
};

TEST_F(OnePlatform, TheModuleSharesTheProgramsState) {
  ASSERT_NE(module_, nullptr) << dlerror();
  const platform::ScopedClockScale scale(250.0);
  EXPECT_EQ(Entry<double()>("ProbeClockScale")(), 250.0);

  const auto bench = std::make_shared<sim::Bench>(
      std::vector<sim::ProductConfig>{bridge::testing::TestProduct("probe")});
  const platform::ScopedBackend installed(bench);
  EXPECT_EQ(Entry<const void*()>("ProbeBackend")(), &platform::CurrentBackend());
  EXPECT_EQ(Entry<const void*()>("ProbeDeviceLock")(), &disk::DeviceLock());
  EXPECT_EQ(Entry<const void*()>("ProbeRetryBound")(), &g_nHDDAccessRetry);
}

TEST_F(OnePlatform, AFaultArmedOnTheProgramsBenchFiresInsideTheModule) {
  ASSERT_NE(module_, nullptr) << dlerror();
  const auto bench = std::make_shared<sim::Bench>(
      std::vector<sim::ProductConfig>{bridge::testing::TestProduct("probe")});
  const platform::ScopedBackend installed(bench);
  const std::string path = bench->product(0).path();
  auto* inquiry = Entry<int(const char*, uint8_t*, uint32_t)>("ProbeInquiry");

  uint8_t data[36] = {};
  ASSERT_EQ(inquiry(path.c_str(), data, sizeof(data)), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + 8), 6), "KVTEST");

  bench->product(0).AddFault(bridge::testing::MakeFault(sim::Fault::Kind::CheckCondition, {0x12}));
  EXPECT_EQ(inquiry(path.c_str(), data, sizeof(data)), 0);
  EXPECT_EQ(bench->product(0).FaultsFired(), 1);
}

}  // namespace
