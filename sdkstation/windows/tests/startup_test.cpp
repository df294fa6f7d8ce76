// The program's start-up and shut-down: the binding of the device library
// and what a failed one leaves untouched, the day log's running number, the
// exFAT choice, the create event, and the saves at exit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QComboBox>
#include <QFrame>
#include <QPushButton>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/ini_file.h"
#include "sdkstation/windows/program_version.h"
#include "sdkstation/windows/tests/sdk_window_fixture.h"
#include "sim/product.h"

namespace sdkstation {
namespace {

namespace fs = std::filesystem;
using station::testing::Slurp;

constexpr char kSettings[] = "[setting]\r\nWriteFileName=pattern.txt\r\nMPResetWait=41\r\n";
constexpr char kYield[] = "[TestRecord]\r\nTotalTestCount=7\r\nNumberOfPass=5\r\n";

class SdkStartUp : public testing::SdkWindowTest {
 public:
  void WriteSettingsAndYield() const {
    WriteIni(kSettings);
    fs::create_directories(Path("log"));
    WriteFile("log/QV4164x.log", kYield);
  }
};

// How each library file is refused: the message on standard output, status
// 1, the settings and yield files as they were.
struct Refusal {
  const char* what;
  std::function<void(const fs::path& bin)> install;
};

const Refusal kRefusals[] = {
    {"no library", [](const fs::path&) {}},
    {"one name short", [](const fs::path& bin) { fs::copy_file(QVFW_WITHOUT_SDK_VERSION, bin / "QVFWUpdateDll.so"); }},
    {"no shared object", [](const fs::path& bin) { std::ofstream(bin / "QVFWUpdateDll.so") << "MZ not a library"; }},
};

TEST_F(SdkStartUp, TheProgramEndsWithItsMessageAndStatusOneWhenTheLibraryIsRefused) {
  const fs::path program(KESTROVA_SDK_PROGRAM);
  const fs::path bin = fs::path(folder_) / "bin";
  fs::create_directories(bin);
  fs::create_directory_symlink(program.parent_path().parent_path() / "lib", fs::path(folder_) / "lib");
  fs::copy_file(program, bin / "KestrovaSdk");
  for (const Refusal& refusal : kRefusals) {
    SCOPED_TRACE(refusal.what);
    fs::remove(bin / "QVFWUpdateDll.so");
    refusal.install(bin);
    std::ofstream(bin / "Kestrova.ini", std::ios::binary) << kSettings;
    fs::create_directories(bin / "log");
    std::ofstream(bin / "log" / "QV4164x.log", std::ios::binary) << kYield;

    const std::string command = "cd '" + folder_ + "' && QT_QPA_PLATFORM=offscreen '" + (bin / "KestrovaSdk").string() +
                                "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(output, "Initalize the API entries fail!\n");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(Slurp((bin / "Kestrova.ini").string()), kSettings);
    EXPECT_EQ(Slurp((bin / "log" / "QV4164x.log").string()), kYield);
    EXPECT_FALSE(fs::exists(bin / "log" / "20240131_000.txt"));
  }
}

TEST_F(SdkStartUp, ARefusedLibraryReachesNoDeviceAndWritesNoFile) {
  Bench(testing::Products(25, 2));
  for (size_t i = 0; i < bench_->size(); ++i) bench_->product(i).EnableTrace(true);
  for (const Refusal& refusal : kRefusals) {
    SCOPED_TRACE(refusal.what);
    fs::remove(Path("QVFWUpdateDll.so"));
    refusal.install(folder_);
    WriteSettingsAndYield();
    boxes_.clear();
    const TMainForm& form = Start();
    EXPECT_FALSE(form.Started());
    Close();
    EXPECT_THAT(Messages(), ::testing::IsEmpty());
    EXPECT_EQ(Slurp(Path("Kestrova.ini")), kSettings);
    EXPECT_EQ(Slurp(Path("log/QV4164x.log")), kYield);
    for (size_t i = 0; i < bench_->size(); ++i) EXPECT_THAT(bench_->product(i).TakeTrace(), ::testing::IsEmpty());
  }
}

TEST_F(SdkStartUp, ALogFolderThatCannotBeMadeStopsTheStartUpAtItsOneMessage) {
  // The load says why it ended and the start-up ends with it: no device is
  // asked anything, no second message follows, and the exit saves nothing
  // it never read.
  constexpr char kInTheWay[] = "a file where the folder should be";
  Bench(testing::Products(25, 2));
  for (size_t i = 0; i < bench_->size(); ++i) bench_->product(i).EnableTrace(true);
  WriteIni(kSettings);
  WriteFile("log", kInTheWay);
  testing::DebugLines debug;
  const TMainForm& form = Start();
  EXPECT_FALSE(form.Started());
  EXPECT_EQ(form.DeviceCount(), 0);
  Close();
  EXPECT_THAT(Messages(), ::testing::ElementsAre("Cannot create log directory."));
  EXPECT_THAT(debug.Take("RD Debug: EnumUSBDevice"), ::testing::IsEmpty());
  EXPECT_EQ(Slurp(Path("Kestrova.ini")), kSettings);
  EXPECT_EQ(Slurp(Path("log")), kInTheWay);
  for (size_t i = 0; i < bench_->size(); ++i) EXPECT_THAT(bench_->product(i).TakeTrace(), ::testing::IsEmpty());
}

TEST_F(SdkStartUp, TheCloseButtonClosesTheWindow) {
  Bench(testing::Products(25, 1));
  WriteSettingsAndYield();
  TMainForm& form = Start();
  form.show();
  ASSERT_TRUE(form.isVisible());
  QTest::mouseClick(Button("CloseBtn"), Qt::LeftButton);
  Pump();
  EXPECT_FALSE(form.isVisible());
  EXPECT_THAT(Messages(), ::testing::IsEmpty());
}

TEST_F(SdkStartUp, ABoundLibraryReadsTheSettingsAndTheExitSavesThem) {
  Bench(testing::Products(25, 1));
  WriteSettingsAndYield();
  testing::DebugLines debug;
  TMainForm& form = Start();
  ASSERT_TRUE(form.Started());
  EXPECT_EQ(form.Settings().MPResetWait, 41);
  EXPECT_EQ(form.Settings().TotalTestCount, 7);
  EXPECT_EQ(form.DeviceCount(), 1);
  EXPECT_THAT(debug.Take("QV_SetSCSITimeOut"), ::testing::ElementsAre("QV_SetSCSITimeOut(10)"));
  EXPECT_EQ(form.windowTitle().toStdString(),
            "Orvanta M.P. Tool v" + std::to_string(kProgramVersion.major) + "." + std::to_string(kProgramVersion.minor) +
                "." + std::to_string(kProgramVersion.release) + "." + std::to_string(kProgramVersion.build));
  form.Settings().NumberOfPass = 6;
  form.Settings().TotalTestCount = 8;
  Close();
  const platform::IniFile settings(Path("Kestrova.ini"));
  EXPECT_EQ(settings.Read("setting", "MPResetWait"), "41");
  EXPECT_EQ(settings.Read("setting", "SCSITimeout"), "10");
  EXPECT_EQ(Slurp(Path("log/QV4164x.log")), "[TestRecord]\r\nTotalTestCount=8\r\nNumberOfPass=6\r\n");
}

TEST_F(SdkStartUp, TheDayLogsRunningNumber) {
  struct Case {
    std::vector<std::pair<int, size_t>> files;  // running number, size
    int expected;
  };
  const Case cases[] = {
      {{}, 0},
      {{{0, 10}, {1, 82999}}, 1},
      {{{0, 10}, {1, 83000}}, 2},
      {{{0, 10}, {1, 10}, {3, 10}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    fs::remove_all(Path("log"));
    fs::create_directories(Path("log"));
    for (const auto& [number, size] : c.files) {
      char name[32];
      std::snprintf(name, sizeof name, "log/20240131_%03d.txt", number);
      WriteFile(name, std::string(size, 'x'));
    }
    WriteIni(kSettings);
    char expected[32];
    std::snprintf(expected, sizeof expected, "/log/20240131_%03d.txt", c.expected);
    EXPECT_EQ(Start().DayLogPath(), folder_ + expected);
    Close();
  }
}

TEST_F(SdkStartUp, ExFatIsOfferedByTheSystemsVersion) {
  struct Case {
    uint32_t major, minor;
    uint16_t servicePack;
    bool exfat;
  };
  const Case cases[] = {{5, 1, 3, false}, {6, 0, 0, false}, {6, 0, 1, true}, {6, 1, 0, true},
                        {6, 3, 0, true},  {10, 0, 0, true},  {11, 0, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.major << "." << c.minor << " SP" << c.servicePack);
    Bench("");
    bench_->SetOsVersion(c.major, c.minor, c.servicePack);
    WriteIni(kSettings);
    Start();
    EXPECT_EQ(Combo("FmtTypeComboBox")->count(), c.exfat ? 3 : 2);
    Close();
  }
}

TEST_F(SdkStartUp, TheCreateEventShowsTheDebugPanelAndTheEraseOnlyBox) {
  struct Case {
    std::string file;
    bool debugPanel;
    bool eraseOnly;
  };
  const Case cases[] = {
      {kSettings, false, false},
      {std::string(kSettings) + "[LoopDebug]\r\nEnLoopDebug=1\r\n", true, false},
      {std::string(kSettings) + "[QVEXECUTE]\r\nEnEraseFlashOnly=1\r\n", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    WriteIni(c.file);
    Start();
    EXPECT_EQ(Shown("DebugPanel"), c.debugPanel);
    EXPECT_EQ(Shown("cbEraseFlashForDebug"), c.debugPanel);
    EXPECT_EQ(Shown("cbEraseFlash"), c.eraseOnly);
    Close();
  }
}

}  // namespace
}  // namespace sdkstation
