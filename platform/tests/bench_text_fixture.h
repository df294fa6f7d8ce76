// A bench built from bench-file text and installed as the device backend
// for the length of one test; text that does not parse fails the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/backend.h"
#include "sim/bench.h"

namespace platform::testing {

class BenchTextTest : public ::testing::Test {
 protected:
  explicit BenchTextTest(const char* text) : bench_(Make(text)), installed_(bench_) {}

  std::shared_ptr<sim::Bench> bench_;
  ScopedBackend installed_;

 private:
  static std::shared_ptr<sim::Bench> Make(const char* text) {
    std::string error;
    auto bench = sim::Bench::FromText(text, &error);
    EXPECT_TRUE(bench) << error;
    return bench;
  }
};

}  // namespace platform::testing
