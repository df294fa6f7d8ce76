// A bench of simulated products installed as the device backend, with the
// trace of the first product switched on, and SCSITimeout at a value no
// default would produce; and one product on a bench of its own for tests
// that keep several side by side.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bridge/scsi_pass_through.h"
#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "sim/bench.h"
#include "sim/emulated_bridge.h"
#include "sim/spi_flash.h"

namespace bridge::testing {

inline constexpr int kTestScsiTimeout = 25;

class ScopedScsiTimeout {
 public:
  explicit ScopedScsiTimeout(int seconds) : previous_(SCSITimeout()) { SetSCSITimeout(seconds); }
  ~ScopedScsiTimeout() { SetSCSITimeout(previous_); }
  ScopedScsiTimeout(const ScopedScsiTimeout&) = delete;
  ScopedScsiTimeout& operator=(const ScopedScsiTimeout&) = delete;

 private:
  int previous_;
};

// Makes the n-th allocation from now on fail, and switches the fault off
// again however the test ends.
class ScopedAllocationFault {
 public:
  explicit ScopedAllocationFault(int skip) { platform::FailAllocationAfter(skip); }
  ~ScopedAllocationFault() { platform::FailAllocationAfter(-1); }
  ScopedAllocationFault(const ScopedAllocationFault&) = delete;
  ScopedAllocationFault& operator=(const ScopedAllocationFault&) = delete;
};

inline sim::Fault MakeFault(sim::Fault::Kind kind, std::vector<uint8_t> cdbPrefix = {}) {
  sim::Fault fault;
  fault.kind = kind;
  fault.cdbPrefix = std::move(cdbPrefix);
  return fault;
}

// `fault` on every matching command from now on.
inline sim::Fault Always(sim::Fault fault) {
  fault.count = -1;
  return fault;
}
inline sim::Fault Always(sim::Fault::Kind kind, std::vector<uint8_t> cdbPrefix) {
  return Always(MakeFault(kind, std::move(cdbPrefix)));
}

inline sim::ProductConfig TestProduct(const std::string& name) {
  sim::ProductConfig config;
  config.name = name;
  config.chipType = 1;  // configuration memory in an EEPROM, firmware through FF 04
  config.inquiryVendor = "KVTEST";
  config.inquiryProduct = "WIRE CHECK";
  config.inquiryRevision = "0207";
  config.disk.sectors = 8192;
  config.disk.model = "KV WIRE DISK";
  config.disk.serial = "WIRE0042";
  config.disk.firmware = "2.07";
  return config;
}

class BenchTest : public ::testing::Test {
 protected:
  explicit BenchTest(std::vector<sim::ProductConfig> products = {TestProduct("wire")})
      : bench_(std::make_shared<sim::Bench>(products)), installed_(bench_) {
    product().EnableTrace(true);
  }

  sim::Product& product(size_t index = 0) { return bench_->product(index); }
  const char* path() const { return path_.c_str(); }
  std::vector<sim::TraceEntry> Trace() { return product().TakeTrace(); }

  // The first product's SPI flash, read and set behind the commands' back.
  std::vector<uint8_t> Flash(uint32_t from, uint32_t length) {
    return product().WithBridge([&](sim::EmulatedBridge& b) {
      const auto& memory = b.flash().memory();
      return std::vector<uint8_t>(memory.begin() + from, memory.begin() + from + length);
    });
  }
  void FillFlash(uint8_t value) {
    product().WithBridge([&](sim::EmulatedBridge& b) {
      std::fill(b.flash().memory().begin(), b.flash().memory().end(), value);
      return 0;
    });
  }
  void PutFlash(uint32_t at, const std::vector<uint8_t>& bytes) {
    product().WithBridge([&](sim::EmulatedBridge& b) {
      std::copy(bytes.begin(), bytes.end(), b.flash().memory().begin() + at);
      return 0;
    });
  }

  std::shared_ptr<sim::Bench> bench_;
  platform::ScopedBackend installed_;
  platform::ScopedClockScale fast_{1000.0};
  ScopedScsiTimeout timeout_{kTestScsiTimeout};
  std::string path_ = bench_->product(0).path();
};

// One product on a bench of its own, installed as the backend.
class OneProduct {
 public:
  explicit OneProduct(sim::ProductConfig config)
      : bench_(std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{std::move(config)})),
        installed_(bench_),
        path_(bench_->product(0).path()) {}
  const char* path() const { return path_.c_str(); }
  sim::Product& product() { return bench_->product(0); }

 private:
  std::shared_ptr<sim::Bench> bench_;
  platform::ScopedBackend installed_;
  std::string path_;
};

}  // namespace bridge::testing
