// A whole pass over sixteen products with every step on, without a window:
// sixteen workers at once through update, relink, partition, FAT32 format,
// the read/write test, copy and compare; the day log as Python's csv module
// reads it, each product's own serial number in its flash, the yield.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sim/emulated_bridge.h"
#include "sim/spi_flash.h"
#include "station/tests/every_step_pass.h"
#include "station/tests/pass_fixture.h"

namespace station {
namespace {

using testing::PassBench;

constexpr int kProducts = 16;

TEST(SixteenPortPass, EveryStepOnEveryPort) {
  // USB 2 products: the read/write test stays at 32 MB.
  PassBench b(testing::StepProducts(kProducts, "", "high"));
  SettingsBlock& s = b.settings();
  testing::SetUpEveryStep(b.Path(""), s, b.host().controls);
  // The collection's own serial text, which no job may change.
  SetFieldText(s.SerialText, "5B00C011EC7E");
  s.SerialLength = 12;

  const PassSummary summary = b.Run();
  EXPECT_EQ(summary.presentCount, kProducts);
  EXPECT_EQ(summary.started, kProducts);
  EXPECT_TRUE(summary.allPass);
  EXPECT_TRUE(summary.logged);
  EXPECT_TRUE(b.Messages().empty()) << ::testing::PrintToString(b.Messages());
  EXPECT_EQ(s.TotalTestCount, kProducts);
  EXPECT_EQ(s.NumberOfPass, kProducts);
  EXPECT_EQ(FieldText(s.String3), "000000000111");
  EXPECT_EQ(FieldText(s.SerialText), "5B00C011EC7E");
  EXPECT_EQ(s.SerialLength, 12);

  const auto rows = testing::ReadTabRowsWithPython(b.dayLog().path, b.Path(""));
  ASSERT_EQ(rows.size(), kProducts + 1u);
  // USB 3 check and firmware check off, every other step passed.
  const std::vector<std::string> statuses = {"----", "Pass", "Pass", "----", "Pass", "Pass",
                                             "Pass", "Pass", "",     "Pass", "Pass", "Pass"};
  for (size_t i = 1; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(rows[i].size(), 22u);
    EXPECT_EQ(rows[i][0], std::string(i < 10 ? "00000" : "0000") + std::to_string(i));
    for (size_t c = 10; c < 22; ++c) {
      if (c == 18) continue;  // the speeds
      EXPECT_EQ(rows[i][c], statuses[c - 10]) << c;
    }
  }

  // Every product carries its own serial number, advanced port by port.
  std::set<std::string> serials;
  for (size_t i = 0; i < b.bench().size(); ++i) {
    char text[12] = {};
    b.bench().product(i).WithBridge([&](sim::EmulatedBridge& bridge) {
      bridge.flash().Read(testing::kQvs887ConfigAddress + testing::kType3SerialDescriptor + 2,
                          reinterpret_cast<uint8_t*>(text), sizeof text);
      return 0;
    });
    serials.insert(std::string(text, sizeof text));
  }
  std::set<std::string> expected;
  for (const char* tail : {"101", "102", "103", "104", "105", "106", "107", "108", "109", "10A", "10B", "10C",
                           "10D", "10E", "10F", "110"})
    expected.insert(std::string("000000000") + tail);
  EXPECT_EQ(serials, expected);
}

}  // namespace
}  // namespace station
