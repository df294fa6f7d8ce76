// One pass with every step on where each product but one fails at a step
// of its own: its row shows that step failed and nothing after it, the
// others are not held back, the pass shows FAIL and counts every port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/tests/bench_fixture.h"
#include "station/tests/every_step_pass.h"
#include "station/tests/pass_fixture.h"

namespace station {
namespace {

using testing::PassBench;

// Day log columns: the verify columns, then the steps.
enum Column : size_t {
  kManufacturer = 5,
  kUsb3 = 10,
  kFirmware = 11,
  kConfiguration = 12,
  kFirmwareCheck = 13,
  kRelink = 14,
  kPartition = 15,
  kFormat = 16,
  kReadWrite = 17,
  kCopy = 19,
  kCompare = 20,
  kResult = 21,
};

struct Case {
  const char* name;
  std::string keys;      // bench file keys of the product (a 512 MB disk unless they say)
  bool readBackFault;    // the update's read-back answers CHECK CONDITION
  size_t failedColumn;   // 0: none
};

TEST(PassFaults, EachPortFailsAtItsOwnStep) {
  const Case cases[] = {
      {"good", "", false, 0},
      {"other maker", "manufacturer = Someone Else\n", false, kManufacturer},
      {"update read-back", "", true, kFirmware},
      {"never back after its reset", "reset_delay_ms = 600000\n", false, kRelink},
      {"too small for a partition", "disk.sectors = 32\n", false, kPartition},
  };
  std::string text;
  for (size_t i = 0; i < std::size(cases); ++i)
    text += "[product f" + std::to_string(i) + "]\nchip = 25\nspeed = high\nserial = 5C000000000" +
            std::to_string(i) + "\n" +
            (cases[i].keys.find("disk.sectors") == std::string::npos ? "disk.sectors = 1048576\n" : "") +
            cases[i].keys;
  PassBench b(text);
  SettingsBlock& s = b.settings();
  testing::SetUpEveryStep(b.Path(""), s, b.host().controls);
  s.EnVenderCheck = 1;
  SetFieldText(s.VerifyVenderID, "1D6B");
  SetFieldText(s.VerifyProductID, "0100");
  SetFieldText(s.VerifyStringA, "Kestrova Sim");
  SetFieldText(s.VerifyStringB, "USB Storage Bridge");
  for (size_t i = 0; i < std::size(cases); ++i) {
    if (cases[i].readBackFault)
      b.bench().product(i).AddFault(bridge::testing::Always(sim::Fault::Kind::CheckCondition, {0x3C, 0x01}));
  }

  const PassSummary summary = b.Run();
  EXPECT_EQ(summary.started, static_cast<int>(std::size(cases)));
  EXPECT_FALSE(summary.allPass);
  EXPECT_EQ(b.host().results, std::vector<bool>{false});
  EXPECT_EQ(b.members().lastPassFailed, 1);
  EXPECT_EQ(s.TotalTestCount, static_cast<int>(std::size(cases)));
  EXPECT_EQ(s.NumberOfPass, 1);

  const auto rows = testing::ReadTabRowsWithPython(b.dayLog().path, b.Path(""));
  ASSERT_EQ(rows.size(), std::size(cases) + 1);
  // Rows go in slot order; a product's slot is where its hub port is.
  std::vector<int> slots;
  for (int slot = 0; slot < bridge::kPortCount; ++slot)
    if (b.pass().ports.records[static_cast<size_t>(slot)].present) slots.push_back(slot);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    size_t row = 0;
    for (size_t k = 0; k < slots.size(); ++k)
      if (static_cast<uint32_t>(b.pass().ports.records[static_cast<size_t>(slots[k])].hubPort) ==
          b.bench().product(i).hubPort())
        row = k + 1;
    ASSERT_NE(row, 0u);
    const std::vector<std::string>& cells = rows[row];
    ASSERT_EQ(cells.size(), 22u);
    const auto cell = [&](size_t column) {
      const std::string& text = cells[column];
      return text.substr(text.find_first_not_of(' '));
    };
    EXPECT_EQ(cell(kResult), c.failedColumn == 0 ? "Pass" : "Fail");
    if (c.failedColumn != 0) {
      EXPECT_EQ(cell(c.failedColumn), "Fail");
    }
    for (const size_t column : {kUsb3, kFirmware, kConfiguration, kFirmwareCheck, kRelink, kPartition, kFormat, kReadWrite,
                          kCopy, kCompare}) {
      if (column == c.failedColumn) continue;
      // The USB 3 and firmware checks are off. Steps before the failing one
      // passed, none after it ran; the identity check comes before them all,
      // and a failed update fails both its columns.
      std::string expected = c.failedColumn == 0 || column < c.failedColumn ? "Pass" : "----";
      if (column == kUsb3 || column == kFirmwareCheck || c.failedColumn == kManufacturer) expected = "----";
      if (c.failedColumn == kFirmware && column == kConfiguration) expected = "Fail";
      EXPECT_EQ(cell(column), expected) << column;
    }
  }
}

}  // namespace
}  // namespace station
