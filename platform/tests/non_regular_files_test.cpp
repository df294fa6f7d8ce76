// Host paths where a file is expected but something else stands: a pipe
// without a writer, a device that gives bytes for ever, a folder. Every
// open, copy, read and library load refuses them at once instead of
// waiting or filling memory, and a read of a regular file stops at its
// limit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/module.h"
#include "platform/program_folder.h"
#include "platform/tests/watched_pipe.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class SpecialFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrova_special.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", Path("zeros").c_str()), 0);
    ASSERT_EQ(::symlink(Path("pipe").c_str(), Path("to-pipe").c_str()), 0);
    fs::create_directory(Path("folder"));
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
};

TEST_F(SpecialFiles, AreRefusedWithoutWaiting) {
  for (const char* name : {"pipe", "zeros", "to-pipe", "folder"}) {
    SCOPED_TRACE(name);
    const std::string path = Path(name);
    const struct {
      uint32_t access;
      uint32_t disposition;
    } opens[] = {{kAccessRead, kOpenExisting},
                 {kAccessWrite, kOpenExisting},
                 {kAccessRead | kAccessWrite, kOpenAlways},
                 {kAccessWrite, kTruncateExisting}};
    for (const auto& open : opens) {
      EXPECT_EQ(CreateFile(path.c_str(), open.access, kShareRead | kShareWrite, open.disposition, 0), kInvalidHandle);
      EXPECT_EQ(GetLastError(), kErrorAccessDenied);
    }
    EXPECT_FALSE(CopyFile(path.c_str(), Path("copy").c_str(), false));
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
    EXPECT_FALSE(fs::exists(Path("copy")));

    std::string bytes;
    EXPECT_EQ(ReadRegularFile(path.c_str(), 1 << 20, &bytes), FileRead::kNotRegular);
    IniFile ini(path);
    EXPECT_EQ(ini.readResult(), FileRead::kNotRegular);
    ini.WriteString("s", "k", "v");
    EXPECT_FALSE(ini.Flush());
  }
  EXPECT_EQ(fs::status(Path("pipe")).type(), fs::file_type::fifo);  // nothing was put in its place
  // A link to a regular file is that file.
  std::ofstream(Path("real"), std::ios::binary) << "[s]\r\nk=1\r\n";
  ASSERT_EQ(::symlink(Path("real").c_str(), Path("to-real").c_str()), 0);
  const Handle file = CreateFile(Path("to-real").c_str(), kAccessRead, kShareRead, kOpenExisting, 0);
  EXPECT_NE(file, kInvalidHandle);
  CloseHandle(file);
  EXPECT_EQ(IniFile(Path("to-real")).ReadInteger("s", "k", 0), 1);
}

// A library in the program folder that is no regular file is no library:
// the loader would wait on a pipe for a writer for ever.
TEST_F(SpecialFiles, ALibraryThatIsNoRegularFileIsNotFound) {
  testing::WatchedPipe pipe(Path("piped.so"));
  ASSERT_TRUE(pipe.made());
  ASSERT_EQ(::symlink(Path("piped.so").c_str(), Path("to-piped.so").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", Path("zeros.so").c_str()), 0);
  fs::create_directory(Path("folder.so"));
  const ScopedProgramFolder program(dir_);
  for (const char* name : {"piped", "to-piped.dll", "zeros", "folder"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(LoadLibrary(name), nullptr);
    EXPECT_EQ(GetLastError(), kErrorModNotFound);
    EXPECT_EQ(GetModuleHandle(name), nullptr);
  }
  EXPECT_FALSE(pipe.ReadFrom());
}

// No settings file comes near the limit; one beyond it is neither read nor
// replaced by a document that lacks its lines.
TEST_F(SpecialFiles, AReadStopsAtItsLimit) {
  const std::string path = Path("big.ini");
  const std::string text = "[s]\r\nk=1\r\n" + std::string(kMaxProfileFileSize - 10, ';');
  std::ofstream(path, std::ios::binary) << text;
  std::string bytes;
  EXPECT_EQ(ReadRegularFile(path.c_str(), text.size(), &bytes), FileRead::kRead);
  EXPECT_EQ(bytes, text);
  EXPECT_EQ(IniFile(path).ReadInteger("s", "k", 0), 1);

  std::ofstream(path, std::ios::app | std::ios::binary) << ";";
  EXPECT_EQ(ReadRegularFile(path.c_str(), text.size(), &bytes), FileRead::kTooLarge);
  EXPECT_TRUE(bytes.empty());
  IniFile big(path);
  EXPECT_EQ(big.readResult(), FileRead::kTooLarge);
  EXPECT_EQ(big.ReadInteger("s", "k", 0), 0);
  big.WriteString("s", "k", "2");
  EXPECT_FALSE(big.Flush());
  EXPECT_EQ(Slurp(path), text + ";");
  EXPECT_EQ(ReadRegularFile(Path("none").c_str(), 10, &bytes), FileRead::kMissing);
}

}  // namespace
}  // namespace platform
