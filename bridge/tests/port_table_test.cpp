// The port table as the workers and the window share it: status texts with
// their bounds, records cleared and copied whole, texts cut to their fields,
// and status words written by one thread while another reads them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>

#include "bridge/port_table.h"

namespace bridge {
namespace {

TEST(StatusTextTest, EveryStatusWordHasItsTextAndNothingOutsideHasOne) {
  struct Case {
    int32_t status;
    const char* text;
  };
  const Case cases[] = {
      {kStepFail, "Fail"},          {kStepOff, "----"},     {kStepPass, "Pass"},
      {kStepRunning, "----"},       {kStepSkipped, "----"}, {kStepUnmatched, "Unmatched"},
      {-2, ""},                     {5, ""},                {INT_MIN, ""},
      {INT_MAX, ""},
  };
  for (const Case& c : cases) EXPECT_STREQ(StatusText(c.status), c.text) << c.status;
}

TEST(PortRecordTest, ClearZeroesEveryRecordAndCopyKeepsEveryField) {
  PortTable table;
  PortRecord& record = *table.slot(16);
  record.inUse = 1;
  record.walkIndex = 16;
  SetFieldText(record.usbSerial, "SERIAL-16");
  record.formatStatus = kStepFail;
  record.finalResult = -1;
  record.readSpeed = 123.5f;
  record.freeBytes = int64_t{5} << 40;
  record.driveLetter = 'E';

  const PortRecord copy = record;
  EXPECT_EQ(copy.walkIndex, 16);
  EXPECT_EQ(FieldText(copy.usbSerial), "SERIAL-16");
  EXPECT_EQ(copy.formatStatus, kStepFail);
  EXPECT_EQ(copy.finalResult, -1);
  EXPECT_FLOAT_EQ(copy.readSpeed, 123.5f);
  EXPECT_EQ(copy.freeBytes, int64_t{5} << 40);
  EXPECT_EQ(copy.driveLetter, 'E');

  table.Clear();
  EXPECT_EQ(record.inUse, 0);
  EXPECT_EQ(FieldText(record.usbSerial), "");
  EXPECT_EQ(record.formatStatus, kStepOff);
  EXPECT_EQ(record.finalResult, 0);
  EXPECT_EQ(record.freeBytes, 0);
}

TEST(PortRecordTest, SlotNumbersOutsideOneToSixteenHaveNoRecord) {
  PortTable table;
  EXPECT_EQ(table.slot(0), nullptr);
  EXPECT_EQ(table.slot(17), nullptr);
  EXPECT_EQ(table.slot(-1), nullptr);
  EXPECT_EQ(table.slot(1), &table.records[0]);
  EXPECT_EQ(table.slot(16), &table.records[15]);
}

TEST(PortRecordTest, TextsAreCutToTheirFieldAndStayTerminated) {
  PortRecord record;
  const std::string longText(200, 'x');
  EXPECT_FALSE(SetFieldText(record.product, longText));
  EXPECT_EQ(FieldText(record.product), std::string(kRecordTextSize - 1, 'x'));
  EXPECT_EQ(record.product[kRecordTextSize - 1], '\0');
  EXPECT_FALSE(SetFieldText(record.firmwareVersion, "0123456789ABCDEFGHIJ"));
  EXPECT_EQ(FieldText(record.firmwareVersion).size(), kFirmwareVersionTextSize - 1);
  EXPECT_TRUE(SetFieldText(record.product, "short"));
  EXPECT_EQ(FieldText(record.product), "short");
  EXPECT_EQ(record.product[6], '\0');  // the rest of the old text is gone
}

TEST(PortRecordTest, UnknownSpeedIsNeverSuperSpeed) {
  EXPECT_FALSE(IsSuperSpeed(kUsbSpeedUnknown));
  EXPECT_FALSE(IsSuperSpeed(kUsbSpeedHigh));
  EXPECT_FALSE(IsSuperSpeed(kUsbSpeedFull));
  EXPECT_TRUE(IsSuperSpeed(kUsbSpeedSuper));
  EXPECT_TRUE(IsSuperSpeed(kUsbSpeedSuperPlus));
}

// A worker runs its steps while the window redraws every record; under the
// thread sanitizer a plain status word here is a reported race.
TEST(PortRecordTest, WorkerWritesWhileTheWindowReads) {
  PortTable table;
  PortRecord& record = *table.slot(3);
  constexpr int kRounds = 20000;
  std::thread worker([&] {
    for (int i = 0; i < kRounds; ++i) {
      record.progress = i % 100;
      record.formatStatus = kStepRunning;
      record.formatStatus = kStepPass;
      record.readSpeed = static_cast<float>(i);
      record.verifyFlags = record.verifyFlags | kVerifyProduct;
    }
    record.result = 1;
    record.finalResult = 1;
  });
  while (record.finalResult.load() != 1) {
    const int32_t status = record.formatStatus;
    EXPECT_THAT(status, ::testing::AnyOf(kStepOff, kStepRunning, kStepPass));
    const PortRecord snapshot = table.records[2];  // the log copies a record whole
    EXPECT_GE(snapshot.progress, 0);
  }
  worker.join();
  EXPECT_EQ(record.result, 1);
  EXPECT_EQ(record.verifyFlags, kVerifyProduct);
  EXPECT_EQ(record.formatStatus, kStepPass);
}

}  // namespace
}  // namespace bridge
