// A reset counts when the bridge accepted it or has left the bus, whether
// it answered or not; a bridge that refused and stayed was not reset.
#include <string>

#include <gtest/gtest.h>

#include "bridge/tests/bench_fixture.h"
#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

struct ResetCase {
  const char* name;
  bool fault;
  sim::Fault::Kind kind;
  int result;
};

void PrintTo(const ResetCase& c, std::ostream* os) { *os << c.name; }

class ChipReset : public ::testing::TestWithParam<ResetCase> {};

TEST_P(ChipReset, CountsWhenTheBridgeLeaves) {
  const ResetCase& c = GetParam();
  sim::ProductConfig config;
  config.name = c.name;
  config.chipType = 25;
  config.disk.sectors = 65536;
  LibraryBench lib({config});
  ASSERT_TRUE(lib.bound());
  const std::string path = lib.List().at(0);
  if (c.fault) lib.product(0).AddFault(bridge::testing::MakeFault(c.kind, {0xFF, 0x04, 0x26}));
  EXPECT_EQ(lib.sdk().QV_ChipReset(path.c_str()), c.result);
  if (c.result == 0) {
    EXPECT_EQ(lib.List().at(0), path) << "still there under its path";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ChipReset,
    ::testing::Values(ResetCase{"Accepted", false, sim::Fault::Kind::CheckCondition, 1},
                      ResetCase{"GoneBeforeItsAnswer", true, sim::Fault::Kind::Vanish, 1},
                      ResetCase{"RefusedAndStillThere", true, sim::Fault::Kind::CheckCondition, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvfw
