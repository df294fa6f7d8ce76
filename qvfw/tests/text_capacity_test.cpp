// The serial and string entries take no buffer size: each writes at most
// its 80 bytes, NUL included, however long the text the product holds.
#include <algorithm>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

// An 80-byte buffer with a guard behind it.
struct Guarded {
  static constexpr uint8_t kMark = 0xA5;
  char text[kTextCapacity];
  uint8_t guard[64];
  Guarded() {
    std::memset(text, kMark, sizeof text);
    std::memset(guard, kMark, sizeof guard);
  }
  bool GuardIntact() const {
    return std::all_of(std::begin(guard), std::end(guard), [](uint8_t b) { return b == kMark; });
  }
  bool Terminated() const { return ::strnlen(text, sizeof text) < sizeof text; }
};

sim::ProductConfig LongTexts(const std::string& name, uint8_t chipType) {
  sim::ProductConfig config;
  config.name = name;
  config.chipType = chipType;
  config.manufacturer = std::string(120, 'M');
  config.product = std::string(120, 'P');
  config.usbSerial = name + std::string(40, '7');  // the path holds it: 255 characters at most
  config.disk.sectors = 65536;
  return config;
}

TEST(TextCapacity, EveryUnsizedTextEntryStaysInsideEightyBytes) {
  LibraryBench lib({LongTexts("image", 29), LongTexts("series", 21)});
  ASSERT_TRUE(lib.bound());
  const auto& sdk = lib.sdk();
  struct Entry {
    const char* name;
    int (*call)(const char*, char*);
  };
  const Entry entries[] = {
      {"QV_GetSNfromOS", sdk.QV_GetSNfromOS},
      {"QV_GetManuStrfromOS", sdk.QV_GetManuStrfromOS},
      {"QV_GetProdStrfromOS", sdk.QV_GetProdStrfromOS},
      {"QV_GetSNfromFlash", sdk.QV_GetSNfromFlash},
      {"QV_GetManuStrfromFlash", sdk.QV_GetManuStrfromFlash},
      {"QV_GetProdStrfromFlash", sdk.QV_GetProdStrfromFlash},
      {"QV_GetHDDStrfromFlash", sdk.QV_GetHDDStrfromFlash},
      {"QV_Get87xSNbySCSICmd", sdk.QV_Get87xSNbySCSICmd},
      {"QV_GetHDDStrbySCSICmd", sdk.QV_GetHDDStrbySCSICmd},
      {"QV_GetFWVersion", sdk.QV_GetFWVersion},
      {"QV_GetFlashString", sdk.QV_GetFlashString},
  };
  const std::vector<std::string> paths = lib.List();
  ASSERT_EQ(paths.size(), 2u);
  for (const std::string& path : paths) {
    for (const Entry& e : entries) {
      SCOPED_TRACE(std::string(e.name) + " on " + path);
      Guarded buffer;
      if (e.call(path.c_str(), buffer.text) != 0) {
        EXPECT_TRUE(buffer.Terminated());
      }
      EXPECT_TRUE(buffer.GuardIntact());
    }
  }
  // The version entry takes no path: it writes nothing at all.
  Guarded version;
  EXPECT_EQ(sdk.QV_GetSDKVersion(version.text), 0);
  EXPECT_TRUE(std::all_of(std::begin(version.text), std::end(version.text),
                          [](char c) { return static_cast<uint8_t>(c) == Guarded::kMark; }));
  EXPECT_TRUE(version.GuardIntact());
  // The QVS87x product presents the bench's long texts: they fill the 80
  // bytes to the last.
  Guarded manufacturer;
  ASSERT_EQ(sdk.QV_GetManuStrfromOS(paths[1].c_str(), manufacturer.text), 1);
  EXPECT_EQ(std::string(manufacturer.text), std::string(kTextCapacity - 1, 'M'));
  EXPECT_TRUE(manufacturer.GuardIntact());
}

}  // namespace
}  // namespace qvfw
