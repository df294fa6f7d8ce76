// A station killed in the middle of a pass, as a failing factory ends it:
// the session is a child process on a bench file, killed with SIGKILL once
// every product holds its new serial number, before the pass has logged or
// counted anything. The next session in the same folder gives none of those
// numbers again, for either program; Python's csv module reads the day log
// and configparser the settings file. Nothing of the killed bench is left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "station/tests/configparser_reader.h"
#include "station/tests/csv_reader.h"
#include "tests/child_process.h"

namespace {

namespace fs = std::filesystem;
using kestrova::testing::ChildProcess;

struct Program {
  const char* mode;        // pass_session's
  const char* firstSerial;
  const char* nextAfterSecond;  // String3 once the second session's pass has given three
  int chip;
};

class KilledPass : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrova_killed.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    fs::create_directories(Path("tmp"));
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::vector<std::string> Environment() const {
    return {"KESTROVA_BENCH=" + Path("bench.txt"), "TMPDIR=" + Path("tmp"), "XDG_CONFIG_HOME=" + Path("config")};
  }
  std::vector<std::string> Temporaries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Path("tmp"))) names.push_back(entry.path().filename());
    return names;
  }
  std::string folder_;
};

// The serial each logged row carries: the last part of its identity column.
std::vector<std::string> LoggedSerials(const std::string& log, const std::string& scratch) {
  std::vector<std::string> serials;
  const auto rows = station::testing::ReadTabRowsWithPython(log, scratch);
  for (size_t i = 1; i < rows.size(); ++i) {
    std::string identity = rows[i].size() > 3 ? rows[i][3] : "";
    while (!identity.empty() && identity.back() == ' ') identity.pop_back();
    serials.push_back(identity.substr(identity.rfind(" / ") + 3));
  }
  return serials;
}

TEST_P(KilledPass, TheNextSessionGivesNoSerialTwice) {
  const Program& p = GetParam();
  std::string bench;
  for (int i = 0; i < 3; ++i)
    bench += "[product p" + std::to_string(i) + "]\nchip = " + std::to_string(p.chip) + "\nserial = OLD" +
             std::to_string(i) + "\n";
  Write("bench.txt", bench);
  Write("pattern.txt", "00");
  Write("Kestrova.ini", std::string("[setting]\r\nWriteFileName=pattern.txt\r\nMPEEPROMToLog=1\r\n") +
                            "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n[QVEEPROM]\r\nString3=" + p.firstSerial +
                            "\r\nString3Inc=1\r\n");
  if (std::string(p.mode) == "sdk") fs::copy_file(QVFW_LIBRARY, Path("QVFWUpdateDll.so"));

  std::vector<std::string> given;
  {
    ChildProcess killed(PASS_SESSION_PROGRAM, {p.mode, folder_, "1", "stop"}, Environment());
    ASSERT_TRUE(killed.started());
    const std::vector<std::string> lines = killed.ReadUntil("waiting");
    for (const std::string& line : lines)
      if (line.rfind("given ", 0) == 0) given.push_back(line.substr(6));
    const int status = killed.Kill(SIGKILL);
    ASSERT_TRUE(WIFSIGNALED(status)) << ::testing::PrintToString(lines);
  }
  ASSERT_EQ(given.size(), 3u);
  EXPECT_EQ(std::set<std::string>(given.begin(), given.end()).size(), 3u);
  for (const std::string& name : Temporaries()) EXPECT_EQ(name.rfind("kestrova-disk-", 0), std::string::npos) << name;

  ChildProcess next(PASS_SESSION_PROGRAM, {p.mode, folder_, "1"}, Environment());
  ASSERT_TRUE(next.started());
  const std::vector<std::string> output = next.ReadAll();
  const int status = next.Wait();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ::testing::PrintToString(output);
  EXPECT_NE(std::find(output.begin(), output.end(), "pass 3 1"), output.end()) << ::testing::PrintToString(output);

  std::vector<fs::path> logs;
  for (const auto& entry : fs::directory_iterator(Path("log")))
    if (entry.path().extension() == ".txt") logs.push_back(entry.path());
  ASSERT_EQ(logs.size(), 1u);
  const std::vector<std::string> logged = LoggedSerials(logs[0], folder_);
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(std::set<std::string>(logged.begin(), logged.end()).size(), 3u);
  for (const std::string& serial : logged)
    EXPECT_EQ(std::count(given.begin(), given.end(), serial), 0) << serial << " was given twice";
  const auto settings = station::testing::ReadIniWithPython(Path("Kestrova.ini"), folder_);
  EXPECT_EQ((settings.at({"QVEEPROM", "String3"})), p.nextAfterSecond);
  // The killed bench's folder went with the next bench, which took its own along.
  EXPECT_TRUE(Temporaries().empty()) << ::testing::PrintToString(Temporaries());
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, KilledPass,
                         ::testing::Values(Program{"first", "000000000101", "000000000107", 12},
                                           Program{"sdk", "0101", "0107", 21}),
                         [](const ::testing::TestParamInfo<Program>& info) { return std::string(info.param.mode); });

}  // namespace
