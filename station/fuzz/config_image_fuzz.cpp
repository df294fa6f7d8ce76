// Any settings, buffers, firmware image and register answers through the
// configuration image builder and the string descriptor writer: no crash,
// no read or write outside the block, page, image or buffer each is given
// (every one is a heap block of its own size), and the results the callers
// rely on.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "sim/bench.h"
#include "station/config_image.h"
#include "station/usb_string_descriptor.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Bridges for the steps that ask the device; index 0 is a path that leads
// nowhere.
std::shared_ptr<sim::Bench> MakeBench() {
  std::vector<sim::ProductConfig> products;
  for (const uint8_t chip : {8, 17, 18, 19, 25}) {
    sim::ProductConfig config;
    config.name = "chip" + std::to_string(chip);
    config.chipType = chip;
    config.disk.sectors = 4096;
    config.disk.sectorSize = chip == 8 ? 4096 : 512;
    products.push_back(config);
  }
  auto bench = std::make_shared<sim::Bench>(products);
  platform::InstallBackend(bench);
  return bench;
}

template <size_t N>
void FillText(FuzzedDataProvider& in, char (&field)[N]) {
  const std::string text = in.ConsumeRandomLengthString(N + 8);
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

void FuzzDescriptor(FuzzedDataProvider& in) {
  const std::string text = in.ConsumeRandomLengthString(300);
  const int32_t maxChars = in.ConsumeIntegralInRange<int32_t>(-4, 300);
  const size_t size = in.ConsumeIntegralInRange<size_t>(0, 300);
  const int32_t offset = in.ConsumeIntegralInRange<int32_t>(-4, 304);
  const int32_t clear = in.ConsumeIntegral<int32_t>();
  const int eightBit = in.ConsumeBool();
  const int32_t tableType = in.ConsumeIntegralInRange<int32_t>(0, 5);
  auto buffer = std::make_unique<uint8_t[]>(size ? size : 1);
  std::memset(buffer.get(), 0xEE, size);
  station::PutUsbStringDescriptor(text, maxChars, {buffer.get(), size}, offset, clear, eightBit,
                                  tableType);
  if (offset <= 0 || static_cast<size_t>(offset) + 2 > size) {
    for (size_t i = 0; i < size; ++i) Check(buffer[i] == 0xEE);
    return;
  }
  const uint8_t* d = buffer.get() + offset;
  Check(d[1] == station::kStringDescriptorType);
  const size_t n = d[0] ? (d[0] - 2u) / 2 : 0;
  Check(d[0] == 0 || (d[0] % 2 == 0 && d[0] >= 4));
  Check(n <= text.size() && static_cast<int64_t>(n) <= std::max(maxChars, 0));
  const size_t unit = eightBit || tableType == station::kEightBitTableType ? 1 : 2;
  for (size_t i = 0; i < n; ++i) {
    Check(d[2 + i * unit] == static_cast<uint8_t>(text[i]));
    if (unit == 2) Check(d[3 + i * unit] == 0);
  }
}

void FuzzImage(FuzzedDataProvider& in, sim::Bench& bench) {
  const auto chipType = in.ConsumeIntegral<uint8_t>();
  const size_t productIndex = in.ConsumeIntegralInRange<size_t>(0, bench.size());
  const std::string path = productIndex ? bench.product(productIndex - 1).path() : "\\\\.\\nowhere";
  if (productIndex) {
    const uint8_t reg703B = in.ConsumeIntegral<uint8_t>(), reg70C8 = in.ConsumeIntegral<uint8_t>();
    bench.product(productIndex - 1).WithBridge([&](sim::EmulatedBridge& b) {
      b.registers()[0x703B] = reg703B;
      b.registers()[0x70C8] = reg70C8;
      return 0;
    });
  }

  auto settings = std::make_unique<station::SettingsBlock>(station::ZeroedSettingsBlock());
  FillText(in, settings->StringA);
  FillText(in, settings->StringB);
  FillText(in, settings->StringC);
  settings->StrBFromHDSN = in.ConsumeBool();
  settings->ODDSize = in.ConsumeIntegral<int32_t>();
  settings->StandbyTimer = in.ConsumeIntegral<int32_t>();
  settings->TableType = in.ConsumeIntegralInRange<int32_t>(-1, 5);
  for (int32_t& offset : settings->OptionOffsets) offset = in.ConsumeIntegralInRange<int32_t>(-2, 300);
  station::StationOptions options;
  options.EnMultiSec = in.ConsumeIntegralInRange<int32_t>(-1, 3);
  options.EnOver2TBMulLun = in.ConsumeIntegralInRange<int32_t>(-1, 2);
  options.QV843PWMode = in.ConsumeBool();
  options.QVB819REU = in.ConsumeBool();
  options.QVB819WDHDD = in.ConsumeBool();
  const station::StationOptions optionsBefore = options;
  const std::string stringBBefore(settings->StringB, sizeof settings->StringB);

  auto block = std::make_unique<station::ConfigBlock>();
  auto page = std::make_unique<station::ConfigPage>();
  const std::vector<uint8_t> start = in.ConsumeBytes<uint8_t>(station::kConfigPageSize);
  std::copy_n(start.begin(), std::min(start.size(), block->size()), block->begin());
  const int useImage = in.ConsumeBool();
  const int merge = in.ConsumeIntegralInRange<int>(0, 5);
  const std::vector<uint8_t> imageBytes = in.ConsumeRemainingBytes<uint8_t>();
  // The image is laid out so that its end is where the fuzzer's bytes end,
  // and lengths around the configuration places are reachable.
  const size_t length = std::min<size_t>(imageBytes.size() * 257, 0x40000);
  auto image = std::make_unique<uint8_t[]>(length ? length : 1);
  for (size_t i = 0; i < length; ++i) image[i] = imageBytes[i % imageBytes.size()];

  if (merge == 0) {
    Check(station::GetDefaultEepromConfig(chipType, *block, *page, useImage,
                                          {image.get(), static_cast<uint32_t>(length)}) == 1);
  } else {
    using Merge = int (*)(station::ConfigBlock&, station::ConfigPage&, std::span<const uint8_t>);
    const Merge merges[] = {station::MergeDeviceConfigQVS879, station::MergeDeviceConfigQVS887,
                            station::MergeDeviceConfigQVS884, station::MergeDeviceConfigQVS891,
                            station::MergeDeviceConfigQVS894};
    const int merged = merges[merge - 1](*block, *page, {image.get(), length});
    Check(merged == 0 || merged == 1);
  }

  Check(station::BuildEepromImage(path.c_str(), chipType, *settings, options, *block, *page) == 0);
  Check(std::memcmp(&options, &optionsBefore, sizeof options) == 0);
  if (!settings->StrBFromHDSN)
    Check(std::string(settings->StringB, sizeof settings->StringB) == stringBBefore);
  // The disk string as written, unless the manufacturer descriptor was
  // placed over it.
  const int32_t descriptor = settings->OptionOffsets[6];
  const bool overlaps = descriptor > 0 && descriptor + 62 > static_cast<int32_t>(station::kPageStringA) &&
                        descriptor < static_cast<int32_t>(station::kPageStringA + station::kPageStringASize);
  if (station::UsesConfigPage(chipType) && !overlaps) {
    const std::string_view stringA = station::FieldText(settings->StringA);
    const size_t n = std::min<size_t>(stringA.size(), station::kPageStringASize);
    Check(std::memcmp(page->data() + station::kPageStringA, stringA.data(), n) == 0);
    for (size_t i = n; i < station::kPageStringASize; ++i) Check((*page)[station::kPageStringA + i] == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::shared_ptr<sim::Bench> bench = MakeBench();
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    FuzzDescriptor(in);
  } else {
    FuzzImage(in, *bench);
  }
  return 0;
}
