// The update drivers' retries against a transfer fault the bench cannot make
// by itself: one byte of one read-back chunk corrupted on its way to the
// host, once.
#include "bridge/firmware_update.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "bridge/image_crc.h"
#include "bridge/manufacturing_download.h"
#include "bridge/tests/bench_fixture.h"
#include "platform/backend.h"

namespace bridge {
namespace {

// The bench, with the data of the n-th READ BUFFER mode 01h changed in one byte.
class CorruptingBackend : public platform::Backend {
 public:
  explicit CorruptingBackend(std::shared_ptr<sim::Bench> bench) : bench_(std::move(bench)) {}
  void CorruptReadBuffer(int which, uint32_t byte) {
    remaining_ = which;
    byte_ = byte;
  }
  int corrupted() const { return corrupted_; }

  platform::Handle OpenDevice(const char* path, uint32_t access, uint32_t share, uint32_t* error) override {
    platform::Handle inner = bench_->OpenDevice(path, access, share, error);
    return inner == platform::kInvalidHandle ? inner : new Wrapped(this, inner);
  }
  void CloseDevice(platform::Handle handle) override {
    auto* wrapped = static_cast<Wrapped*>(handle);
    bench_->CloseDevice(wrapped->inner);
    delete wrapped;
  }
  bool DeviceIoControl(platform::Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                       uint32_t outSize, uint32_t* returned, uint32_t* error) override {
    handle = static_cast<Wrapped*>(handle)->inner;
    const bool ok = bench_->DeviceIoControl(handle, code, in, inSize, out, outSize, returned, error);
    if (ok && code == platform::kIoctlScsiPassThroughDirect && out != nullptr) {
      auto* request = static_cast<platform::ScsiPassThroughDirect*>(out);
      if (request->DataIn != 0 && request->Cdb[0] == 0x3C && request->Cdb[1] == 0x01 &&
          request->DataTransferLength > byte_ && --remaining_ == 0) {
        static_cast<uint8_t*>(request->DataBuffer)[byte_] ^= 0x40;
        ++corrupted_;
      }
    }
    return ok;
  }

 private:
  struct Wrapped : platform::HandleObject {
    Wrapped(platform::Backend* owner, platform::Handle innerHandle) : HandleObject(owner), inner(innerHandle) {}
    platform::Handle inner;
  };
  std::shared_ptr<sim::Bench> bench_;
  std::atomic<int> remaining_{0};
  uint32_t byte_ = 0;
  std::atomic<int> corrupted_{0};
};

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
        backend_(std::make_shared<CorruptingBackend>(bench_)),
        installed_(backend_),
        path_(bench_->product(0).path()) {}

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
  std::shared_ptr<CorruptingBackend> backend_;
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
    backend_->CorruptReadBuffer(1, 0x500);
  } else {
    backend_->CorruptReadBuffer(2, 0x100);
  }
  EXPECT_EQ(Update(), 1);
  EXPECT_EQ(backend_->corrupted(), 1);
  EXPECT_EQ(Downloads(), 2);
  // A header byte corrupted changes nothing: one try.
  backend_->CorruptReadBuffer(1, 0x300);
  EXPECT_EQ(Update(), 1);
  EXPECT_EQ(Downloads(), 1);
}

INSTANTIATE_TEST_SUITE_P(Families, CorruptedReadBack, ::testing::Values(21u, 27u),
                         [](const auto& info) { return "ChipType" + std::to_string(info.param); });

}  // namespace
}  // namespace bridge
