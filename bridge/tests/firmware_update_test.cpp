// The update drivers' retries against a transfer fault: one byte of one
// read-back chunk corrupted on its way to the host, once.
#include "bridge/firmware_update.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge/image_crc.h"
#include "bridge/manufacturing_download.h"
#include "bridge/tests/bench_fixture.h"
#include "platform/backend.h"

namespace bridge {
namespace {

sim::ProductConfig Family(unsigned chipType) {
  sim::ProductConfig config = testing::TestProduct("update" + std::to_string(chipType));
  config.chipType = static_cast<uint8_t>(chipType);
  return config;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    b = static_cast<uint8_t>(seed);
  }
  return bytes;
}

class CorruptedReadBack : public ::testing::TestWithParam<unsigned> {
 protected:
  CorruptedReadBack()
      : bench_(std::make_shared<sim::Bench>(std::vector<sim::ProductConfig>{Family(GetParam())})),
        installed_(bench_),
        path_(bench_->product(0).path()) {}

  // The data of the `which`-th READ BUFFER mode 01h from now on changed in `byte`.
  void CorruptReadBuffer(int which, uint32_t byte) {
    sim::Fault fault;
    fault.kind = sim::Fault::Kind::CorruptData;
    fault.cdbPrefix = {0x3C, 0x01};
    fault.skip = which - 1;
    fault.offset = byte;
    fault.xorMask = 0x40;
    bench_->product(0).ClearFaults();
    bench_->product(0).AddFault(fault);
  }
  int corrupted() { return bench_->product(0).FaultsFired(); }

  int Update() {
    const unsigned chipType = GetParam();
    if (chipType <= 24) {
      const std::vector<uint8_t> config(kConfigBlockSize);
      return UpdateFirmwareQVS87x(path_.c_str(), 0, kQvs87xUpdateLength, false, false, {}, config, image_);
    }
    const LoadedImage image{image_.data(), static_cast<uint32_t>(image_.size())};
    return UpdateFirmwareQVS891(path_.c_str(), 0, kQvs891UpdateLength, false, nullptr, false, true, image);
  }
  int Downloads() {
    int starts = 0;
    for (const sim::TraceEntry& e : bench_->product(0).TakeTrace())
      starts += e.cdb[0] == 0x3B && e.cdb[3] == 0 && e.cdb[4] == 0 && e.cdb[5] == 0;
    return starts;
  }

  std::shared_ptr<sim::Bench> bench_;
  platform::ScopedBackend installed_;
  platform::ScopedClockScale fast_{1000.0};
  std::string path_;
  std::vector<uint8_t> image_ = Pattern(GetParam() <= 24 ? kDualBankImageSize : 0x10600, GetParam());
};

TEST_P(CorruptedReadBack, FirstTryFailsSecondSucceeds) {
  ASSERT_EQ(Update(), 1);
  bench_->product(0).EnableTrace(true);
  // File byte 0x500: in the first 4 KB chunk, or at 0x100 of the second 1 KB one.
  if (GetParam() <= 24) {
    CorruptReadBuffer(1, 0x500);
  } else {
    CorruptReadBuffer(2, 0x100);
  }
  EXPECT_EQ(Update(), 1);
  EXPECT_EQ(corrupted(), 1);
  EXPECT_EQ(Downloads(), 2);
  // A header byte corrupted changes nothing: one try.
  CorruptReadBuffer(1, 0x300);
  EXPECT_EQ(Update(), 1);
  EXPECT_EQ(Downloads(), 1);
}

INSTANTIATE_TEST_SUITE_P(Families, CorruptedReadBack, ::testing::Values(21u, 27u),
                         [](const auto& info) { return "ChipType" + std::to_string(info.param); });

}  // namespace
}  // namespace bridge
