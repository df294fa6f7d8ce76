// Route choice of the format driver and the format command's batch line.
#include "disk/format_route_table.h"

#include <gtest/gtest.h>

#include "disk/format_batch.h"

namespace disk {
namespace {

struct RouteCase {
  const char* name;
  int fileSystem;
  bool formatCom;
  bool fmifs;
  FormatRoute route;
  bool deviceLock;
};

class RouteChoice : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RouteChoice, ByFileSystemAndPrograms) {
  const RouteCase& c = GetParam();
  const FormatRouteRow& row =
      SelectFormatRoute(c.fileSystem == kFileSystemFat32, c.formatCom, c.fmifs);
  EXPECT_EQ(row.route, c.route);
  EXPECT_EQ(row.deviceLock, c.deviceLock);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RouteChoice,
    ::testing::Values(
        RouteCase{"Fat32WithEverything", kFileSystemFat32, true, true, FormatRoute::OwnFat32, false},
        RouteCase{"Fat32WithNothing", kFileSystemFat32, false, false, FormatRoute::OwnFat32, false},
        RouteCase{"NtfsFormatCom", kFileSystemNtfs, true, false, FormatRoute::FormatCommand, true},
        RouteCase{"ExFatFormatComBeforeService", kFileSystemExFat, true, true,
                  FormatRoute::FormatCommand, true},
        RouteCase{"NtfsServiceOnly", kFileSystemNtfs, false, true, FormatRoute::FormatService, true},
        RouteCase{"ExFatNothing", kFileSystemExFat, false, false, FormatRoute::None, false}),
    [](const ::testing::TestParamInfo<RouteCase>& info) { return info.param.name; });

TEST(FileSystemNames, ThreeByIndex) {
  ASSERT_EQ(kFileSystemCount, 3);
  EXPECT_STREQ(kFileSystemNames[kFileSystemNtfs], "NTFS");
  EXPECT_STREQ(kFileSystemNames[kFileSystemFat32], "FAT32");
  EXPECT_STREQ(kFileSystemNames[kFileSystemExFat], "exFAT");
}

struct BatchCase {
  const char* name;
  char drive;
  const char* fileSystem;
  uint32_t cluster;
  const char* label;
  const char* line;
};

class BatchLine : public ::testing::TestWithParam<BatchCase> {};

TEST_P(BatchLine, AsWritten) {
  const BatchCase& c = GetParam();
  EXPECT_EQ(FormatBatchLine(c.drive, c.fileSystem, c.cluster, c.label), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchLine,
    ::testing::Values(
        BatchCase{"NoClusterOption", 'E', "NTFS", 0, "DATA",
                  "echo y | format.com E: /q /fs:NTFS /x && label E: DATA"},
        BatchCase{"Cluster2048HasNoOption", 'E', "NTFS", 2048, "DATA",
                  "echo y | format.com E: /q /fs:NTFS /x && label E: DATA"},
        BatchCase{"Cluster16K", 'F', "exFAT", 16384, "PRODUCT",
                  "echo y | format.com F: /q /fs:exFAT /x /a:16K && label F: PRODUCT"},
        BatchCase{"Cluster512", 'F', "NTFS", 512, "A", "echo y | format.com F: /q /fs:NTFS /x /a:512 && label F: A"},
        BatchCase{"Cluster4096", 'F', "NTFS", 4096, "A", "echo y | format.com F: /q /fs:NTFS /x /a:4096 && label F: A"},
        BatchCase{"Cluster8192", 'F', "NTFS", 8192, "A", "echo y | format.com F: /q /fs:NTFS /x /a:8192 && label F: A"},
        BatchCase{"Cluster32K", 'F', "NTFS", 32768, "A", "echo y | format.com F: /q /fs:NTFS /x /a:32K && label F: A"},
        BatchCase{"Cluster64K", 'F', "NTFS", 65536, "A", "echo y | format.com F: /q /fs:NTFS /x /a:64K && label F: A"},
        BatchCase{"LabelWithSpaces", 'G', "NTFS", 0, "MY DISK",
                  "echo y | format.com G: /q /fs:NTFS /x && label G: MY DISK"},
        // An empty label would leave the label command waiting at its prompt.
        BatchCase{"EmptyLabel", 'G', "NTFS", 0, "", "echo y | format.com G: /q /fs:NTFS /x"},
        BatchCase{"ControlCharactersOnly", 'G', "NTFS", 0, "\r\n",
                  "echo y | format.com G: /q /fs:NTFS /x"},
        // No character of the label can start a command or expand a variable.
        BatchCase{"CommandCharacters", 'H', "NTFS", 0, "A&del x|y>z",
                  "echo y | format.com H: /q /fs:NTFS /x && label H: A^&del x^|y^>z"},
        BatchCase{"QuotesCaretsParens", 'H', "NTFS", 0, "\"a\"^(b)<c",
                  "echo y | format.com H: /q /fs:NTFS /x && label H: ^\"a^\"^^^(b^)^<c"},
        BatchCase{"Variables", 'H', "NTFS", 0, "%PATH%!x!",
                  "echo y | format.com H: /q /fs:NTFS /x && label H: %%PATH%%^!x^!"},
        BatchCase{"NewLineStartsNoCommand", 'H', "NTFS", 0, "A\r\ndel *",
                  "echo y | format.com H: /q /fs:NTFS /x && label H: Adel *"}),
    [](const ::testing::TestParamInfo<BatchCase>& info) { return info.param.name; });

}  // namespace
}  // namespace disk
