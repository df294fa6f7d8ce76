// The programs themselves, copied into a program folder of their own and
// run as child processes: a second station on the same folder refuses to
// run while the first holds it and runs once the first was killed; a bench
// file or a device library that is a pipe stops the program instead of
// holding its start-up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/tests/watched_pipe.h"
#include "tests/child_process.h"

namespace {

namespace fs = std::filesystem;
using kestrova::testing::ChildProcess;

constexpr char kRefusal[] = "Another station program is already running in ";

struct Program {
  const char* name;
  const char* file;  // the built program
  // A line of its debug output that comes only after the folder's lock was
  // taken: its device scan.
  const char* scanning;
};

const Program kPrograms[] = {
    {"Kestrova", KESTROVA_PROGRAM, "slot 1:"},
    {"KestrovaSdk", KESTROVA_SDK_PROGRAM, "QV_GetDeviceList"},
};

class StationPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrova_programs.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    fs::create_directories(Path("bin/log"));
    fs::create_directories(Path("tmp"));
    fs::create_directory_symlink(fs::path(KESTROVA_PROGRAM).parent_path().parent_path() / "lib", Path("lib"));
    fs::copy_file(QVFW_LIBRARY, Path("bin/QVFWUpdateDll.so"));
    for (const Program& p : kPrograms) fs::copy_file(p.file, Path(std::string("bin/") + p.name));
    Write("bench.txt", "[product a]\nchip = 21\nserial = 5001\n");
    Write("bin/pattern.txt", "00");
    Write("bin/Kestrova.ini", "[setting]\r\nWriteFileName=pattern.txt\r\n");
    Write("bin/log/QV4164x.log", "[TestRecord]\r\nTotalTestCount=7\r\nNumberOfPass=5\r\n");
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Environment(const std::string& bench) const {
    return {"KESTROVA_BENCH=" + bench, "KESTROVA_DEBUG=1", "QT_QPA_PLATFORM=offscreen", "TMPDIR=" + Path("tmp"),
            "XDG_CONFIG_HOME=" + Path("config")};
  }
  std::string folder_;
};

// The second station says why it does not run, on standard error as in its
// box, and touches no file; the box waits for an operator nobody is, so the
// test ends it. The kernel drops the lock of a killed station.
TEST_F(StationPrograms, ASecondStationInOneFolderRefusesToRun) {
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    const std::string program = Path(std::string("bin/") + p.name);
    const std::string settings = Read("bin/Kestrova.ini"), yield = Read("bin/log/QV4164x.log");
    ChildProcess first(program, {}, Environment(Path("bench.txt")));
    ASSERT_TRUE(first.started());
    const std::vector<std::string> firstLines = first.ReadUntil(p.scanning);
    ASSERT_FALSE(firstLines.empty());
    ASSERT_NE(firstLines.back().find(p.scanning), std::string::npos) << ::testing::PrintToString(firstLines);

    ChildProcess second(program, {}, Environment(Path("bench.txt")));
    const std::vector<std::string> said = second.ReadUntil(kRefusal, p.scanning);
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.back().rfind(kRefusal + Path("bin") + ".", 0), 0u) << ::testing::PrintToString(said);
    EXPECT_TRUE(WIFSIGNALED(second.Kill(SIGKILL)));
    EXPECT_EQ(Read("bin/Kestrova.ini"), settings);
    EXPECT_EQ(Read("bin/log/QV4164x.log"), yield);

    EXPECT_TRUE(WIFSIGNALED(first.Kill(SIGKILL)));
    ChildProcess third(program, {}, Environment(Path("bench.txt")));
    const std::vector<std::string> thirdLines = third.ReadUntil(p.scanning, kRefusal);
    ASSERT_FALSE(thirdLines.empty());
    EXPECT_NE(thirdLines.back().find(p.scanning), std::string::npos) << ::testing::PrintToString(thirdLines);
  }
}

TEST_F(StationPrograms, ABenchFileThatIsAPipeStopsTheProgram) {
  ASSERT_EQ(::mkfifo(Path("bench.pipe").c_str(), 0600), 0);
  for (const Program& p : kPrograms) {
    SCOPED_TRACE(p.name);
    ChildProcess program(Path(std::string("bin/") + p.name), {}, Environment(Path("bench.pipe")));
    const std::vector<std::string> said = program.ReadAll();
    const int status = program.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(std::find(said.begin(), said.end(), "bench file " + Path("bench.pipe") + ": is not a regular file"),
              said.end())
        << ::testing::PrintToString(said);
  }
}

// A library that is a pipe is a library that cannot be loaded: the program
// says so and ends as without one, never waiting on the pipe for a writer.
TEST_F(StationPrograms, ALibraryThatIsAPipeEndsTheSdkProgramWithItsMessage) {
  const std::string settings = Read("bin/Kestrova.ini");
  fs::remove(Path("bin/QVFWUpdateDll.so"));
  platform::testing::WatchedPipe library(Path("bin/QVFWUpdateDll.so"));
  ASSERT_TRUE(library.made());
  ChildProcess program(Path("bin/KestrovaSdk"), {}, Environment(Path("bench.txt")));
  ASSERT_TRUE(program.started());
  const std::vector<std::string> said = program.ReadAll();
  const int status = program.Wait();
  EXPECT_FALSE(library.ReadFrom());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(std::find(said.begin(), said.end(), "Initalize the API entries fail!"), said.end())
      << ::testing::PrintToString(said);
  EXPECT_EQ(Read("bin/Kestrova.ini"), settings);
}

}  // namespace
