// Version tests over the versions the system can report.
#include "disk/os_version_tests.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/backend.h"
#include "sim/bench.h"

namespace disk {
namespace {

struct VersionCase {
  const char* name;
  uint32_t major, minor;
  uint16_t servicePack;
  // 2000, Vista, VistaSp, 7-8.1, 8/8.1, 10, Vista or later
  int expected[7];
};

class VersionTests : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionTests, EachTest) {
  const VersionCase& c = GetParam();
  auto bench = std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{});
  bench->SetOsVersion(c.major, c.minor, c.servicePack);
  platform::ScopedBackend installed(bench);
  const int got[7] = {IsWindows2000(),       IsWindowsVista(), IsWindowsVistaSp(),
                      IsWindows7Through81(), IsWindows8Or81(), IsWindows10(),
                      IsVistaOrLater()};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(got[i], c.expected[i]) << "test " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionTests,
    ::testing::Values(VersionCase{"Windows2000", 5, 0, 4, {1, 0, 0, 0, 0, 0, 0}},
                      VersionCase{"WindowsXp", 5, 1, 3, {0, 0, 0, 0, 0, 0, 0}},
                      VersionCase{"VistaWithoutServicePack", 6, 0, 0, {0, 1, 0, 0, 0, 0, 1}},
                      VersionCase{"VistaServicePack2", 6, 0, 2, {0, 1, 1, 0, 0, 0, 1}},
                      VersionCase{"Windows7", 6, 1, 1, {0, 0, 0, 1, 0, 0, 1}},
                      VersionCase{"Windows8", 6, 2, 0, {0, 0, 0, 1, 1, 0, 1}},
                      VersionCase{"Windows81", 6, 3, 0, {0, 0, 0, 1, 1, 0, 1}},
                      VersionCase{"Windows10", 10, 0, 0, {0, 0, 0, 0, 0, 1, 1}}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

}  // namespace
}  // namespace disk
