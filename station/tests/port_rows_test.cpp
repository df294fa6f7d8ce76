// The port rows as text, the yield count that consumes each final result
// once, the Type-C round's progress and the colour rule of result cells.
#include "station/port_rows.h"

#include <gtest/gtest.h>

namespace station {
namespace {

TEST(PortRowsTest, ListStatusTextHasNoTextOutsideItsWords) {
  const std::pair<int32_t, std::string> cases[] = {{-2, ""}, {-1, "Fail"}, {0, ""},          {1, "Pass"},
                                                   {2, "Running"}, {3, "N/A"}, {4, "Unmatched"}, {5, ""},
                                                   {1000, ""}};
  for (const auto& [status, text] : cases) EXPECT_EQ(ListStatusText(status), text) << status;
}

TEST(PortRowsTest, CellsOfAPresentPort) {
  bridge::PortRecord r;
  r.present = 1;
  r.hubPort = 3;
  r.chipType = 21;
  r.usbSpeed = bridge::kUsbSpeedHigh;
  r.vid = 0x1d6b;
  r.pid = 0x871;
  bridge::SetFieldText(r.usbSerial, "57abc");
  r.capacityMB = 238475;
  r.freeBytes = 123456789012LL;
  bridge::SetFieldText(r.firmwareVersion, "1.02.03");
  r.firmwareAccepted = 0;
  r.identityCheckStatus = bridge::kStepPass;
  r.firmwareStatus = bridge::kStepRunning;
  r.firmwareCheckStatus = bridge::kStepFail;
  r.readWriteStatus = bridge::kStepFail;
  r.writeSpeed = 12.34f;
  r.readSpeed = 56.78f;
  r.partitionStatus = bridge::kStepUnmatched;
  SettingsBlock s = ZeroedSettingsBlock();
  StationOptions o;

  PortRow row = BuildPortRow(r, s, o);
  EXPECT_TRUE(row.present);
  EXPECT_EQ(row.caption, "3");
  const std::array<std::string, kPortRowCells> plain = {
      "2.0", "1D6B / 0871 / 57ABC", "238475 MB", "InCode", "Pass", "", "Running", "", "Unmatched", "", "Fail", "", ""};
  EXPECT_EQ(row.cells, plain);

  r.usbSpeed = bridge::kUsbSpeedSuper;
  r.firmwareAccepted = 1;
  s.EnFWCheck = 1;
  s.ShowRWPerf = 1;
  o.FreeSpaceCheck = 1;
  row = BuildPortRow(r, s, o);
  EXPECT_EQ(row.cells[0], "3.0");
  EXPECT_EQ(row.cells[2], "123456789012 Bytes");
  EXPECT_EQ(row.cells[3], "1.02.03");
  EXPECT_EQ(row.cells[6], "Fail");              // the firmware check's status
  EXPECT_EQ(row.cells[10], "Fail (56.8 12.3)");  // read speed first
  for (const auto& [status, text] : std::vector<std::pair<int32_t, std::string>>{
           {1, "Pass (56.8 12.3)"}, {2, "Running"}, {3, "N/A"}, {4, "Unmatched"}, {0, ""}, {7, ""}}) {
    r.readWriteStatus = status;
    EXPECT_EQ(BuildPortRow(r, s, o).cells[10], text) << status;
  }
  r.chipType = 4;
  EXPECT_EQ(BuildPortRow(r, s, o).cells[0], "YES");
  r.present = 0;
  row = BuildPortRow(r, s, o);
  EXPECT_FALSE(row.present);
  EXPECT_EQ(row.caption, "");
}

TEST(PortRowsTest, EachFinalResultCountsOnce) {
  struct Case {
    bool typeC;
    int32_t passIndex;
    int32_t total, passed;  // after a pass, a fail and an absent port's pass
  };
  const Case cases[] = {{false, 0, 2, 1}, {true, 0, 2, 0}, {true, 1, 0, 0}, {true, 2, 0, 1}};
  for (const Case& c : cases) {
    bridge::PortTable table;
    table.records[0].present = 1;
    table.records[0].finalResult = 1;
    table.records[1].present = 1;
    table.records[1].finalResult = -1;
    table.records[2].finalResult = 1;  // not present: not counted
    SettingsBlock s = ZeroedSettingsBlock();
    for (int rebuild = 0; rebuild < 3; ++rebuild) CountPortResults(table, s, c.typeC, c.passIndex);
    EXPECT_EQ(s.TotalTestCount, c.total) << c.typeC << c.passIndex;
    EXPECT_EQ(s.NumberOfPass, c.passed) << c.typeC << c.passIndex;
    EXPECT_EQ(table.records[0].finalResult, 0);
    EXPECT_EQ(table.records[0].result, 0);
  }
}

TEST(PortRowsTest, ProgressOfPassesAndRounds) {
  bridge::PortTable table;
  table.records[0].present = 1;
  table.records[0].progress = 40;
  table.records[5].present = 1;
  table.records[5].progress = 100;
  table.records[6].progress = 100;
  EXPECT_EQ(ProgressSum(table), 140);
  EXPECT_EQ(TypeCRoundProgress(0, 0, 0), 0);
  EXPECT_EQ(TypeCRoundProgress(0, 0, 100), 33);
  EXPECT_EQ(TypeCRoundProgress(33, 1, 50), 50);
  EXPECT_EQ(TypeCRoundProgress(0, 2, 100), 100);
  EXPECT_EQ(TypeCRoundProgress(60, 1, 0), 60);  // never back
}

TEST(PortRowsTest, ResultCellStyles) {
  EXPECT_EQ(ResultCellStyle("Fail (12.3 56.8)"), CellStyle::kFailRed);
  EXPECT_EQ(ResultCellStyle("Unmatched"), CellStyle::kFailRed);
  EXPECT_EQ(ResultCellStyle("Pass"), CellStyle::kPassBlue);
  EXPECT_EQ(ResultCellStyle("Running"), CellStyle::kPlain);
  EXPECT_EQ(ResultCellStyle(""), CellStyle::kPlain);
}

}  // namespace
}  // namespace station
