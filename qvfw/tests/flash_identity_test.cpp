// What the library reads back as the identity a product's flash holds: the
// texts of a product that never had them written, and the route to the
// stored identity of every family that keeps one.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qvfw/tests/library_bench.h"

namespace qvfw {
namespace {

using testing::LibraryBench;

struct FlashTexts {
  std::string manufacturer, product, serial;
  bool operator==(const FlashTexts&) const = default;
};

void PrintTo(const FlashTexts& t, std::ostream* os) {
  *os << "'" << t.manufacturer << "' '" << t.product << "' '" << t.serial << "'";
}

FlashTexts ReadFlashTexts(LibraryBench& lib, const std::string& path) {
  char text[3][80] = {};
  EXPECT_EQ(lib.sdk().QV_GetManuStrfromFlash(path.c_str(), text[0]), 1);
  EXPECT_EQ(lib.sdk().QV_GetProdStrfromFlash(path.c_str(), text[1]), 1);
  EXPECT_EQ(lib.sdk().QV_GetSNfromFlash(path.c_str(), text[2]), 1);
  return {text[0], text[1], text[2]};
}

TEST(FlashIdentity, AQvs87xProductWhoseStringsWereNeverWrittenHoldsNone) {
  // A product from the factory: its running bank carries no customer
  // strings (erased), its serial is padded to the field.
  sim::ProductConfig config;
  config.name = "blank";
  config.chipType = 21;
  config.usbSerial = "SN0042";
  config.disk.sectors = 65536;
  LibraryBench lib({config});
  ASSERT_TRUE(lib.bound());
  const std::string path = lib.List().at(0);
  EXPECT_EQ(ReadFlashTexts(lib, path), (FlashTexts{"", "", "SN0042"}));
}

}  // namespace
}  // namespace qvfw
