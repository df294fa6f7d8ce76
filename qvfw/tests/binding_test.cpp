// The library as a station binds it: what it exports, and the binding of a
// complete library, a missing one, a file that is no shared object and a
// build that lacks one entry point.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/device_io.h"
#include "platform/module.h"
#include "platform/program_folder.h"
#include "sdkstation/device_sdk.h"

namespace fs = std::filesystem;
using sdkstation::BindDeviceSdk;
using sdkstation::DeviceSdk;
using sdkstation::DeviceSdkTable;
using sdkstation::UnbindDeviceSdk;

namespace {

const std::set<std::string>& EntryPointNames() {
  static const std::set<std::string> names = {
#define QV_NAME(name) #name,
      QV_ENTRY_POINTS(QV_NAME)
#undef QV_NAME
  };
  return names;
}

// Filled slots of the process's table.
int FilledSlots() {
  const DeviceSdkTable& t = DeviceSdk();
  int filled = 0;
#define QV_COUNT(name) filled += t.name != nullptr;
  QV_ENTRY_POINTS(QV_COUNT)
#undef QV_COUNT
  return filled;
}

// A fresh program folder holding what the test puts there.
class ProgramFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("qvfw-binding-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    scoped_.emplace(folder_.string());
    DeviceSdk() = DeviceSdkTable{};
  }
  void TearDown() override {
    scoped_.reset();
    fs::remove_all(folder_);
  }
  void Install(const fs::path& file) {
    fs::copy_file(file, folder_ / "QVFWUpdateDll.so", fs::copy_options::overwrite_existing);
  }
  fs::path folder_;
  std::optional<platform::ScopedProgramFolder> scoped_;
};

TEST(LibraryExports, NmShowsExactlyTheEntryPoints) {
  const std::string command = std::string("nm -D --defined-only ") + QVFW_LIBRARY;
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> defined;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char address[64], kind[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, kind, name) == 3) defined.insert(name);
  }
  ASSERT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(defined, EntryPointNames());
}

using BindingTest = ProgramFolderTest;

TEST_F(BindingTest, CompleteLibraryFillsEverySlotFromTheProgramFolder) {
  Install(QVFW_LIBRARY);
  const platform::Module module = BindDeviceSdk();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(FilledSlots(), static_cast<int>(EntryPointNames().size()));
  // The twice-looked-up name lands in its one slot, pointing at the entry.
  EXPECT_EQ(reinterpret_cast<platform::Proc>(DeviceSdk().QV_SetEnableMultiSector),
            platform::GetProcAddress(module, "QV_SetEnableMultiSector"));
  EXPECT_EQ(platform::GetModuleHandle("QVFWUpdateDll"), module);
  // A second binding finds the loaded module instead of loading again.
  EXPECT_EQ(BindDeviceSdk(), module);
  EXPECT_TRUE(platform::FreeLibrary(module));

  EXPECT_TRUE(UnbindDeviceSdk(module));
  EXPECT_EQ(FilledSlots(), 0);
  EXPECT_EQ(platform::GetModuleHandle("QVFWUpdateDll.dll"), nullptr);
  EXPECT_TRUE(UnbindDeviceSdk(nullptr));
}

TEST_F(BindingTest, RefusedLibrariesLeaveNoSlotAndNoModule) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> install;
  };
  const Case cases[] = {
      {"no library file", [](const fs::path&) {}},
      {"a file that is no shared object",
       [](const fs::path& folder) { std::ofstream(folder / "QVFWUpdateDll.so") << "MZ not a library"; }},
      {"a build without QV_GetSDKVersion, the first name looked up",
       [](const fs::path& folder) {
         fs::copy_file(QVFW_WITHOUT_SDK_VERSION, folder / "QVFWUpdateDll.so");
       }},
      {"a build without QV_CheckWriteProtect, after 97 slots are filled",
       [](const fs::path& folder) {
         fs::copy_file(QVFW_WITHOUT_CHECK_WRITE_PROTECT, folder / "QVFWUpdateDll.so");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(folder_ / "QVFWUpdateDll.so");
    c.install(folder_);
    EXPECT_EQ(BindDeviceSdk(), nullptr);
    EXPECT_EQ(FilledSlots(), 0);
    EXPECT_EQ(platform::GetModuleHandle("QVFWUpdateDll"), nullptr);
  }
}

TEST_F(BindingTest, TheLibraryInTheWorkingDirectoryIsNeverLoaded) {
  const fs::path elsewhere = folder_ / "cwd";
  fs::create_directories(elsewhere / "program");
  fs::copy_file(QVFW_LIBRARY, elsewhere / "QVFWUpdateDll.so");
  const fs::path previous = fs::current_path();
  fs::current_path(elsewhere);
  platform::ScopedProgramFolder program((elsewhere / "program").string());
  EXPECT_EQ(platform::LoadLibrary("QVFWUpdateDll"), nullptr);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorModNotFound);
  EXPECT_EQ(BindDeviceSdk(), nullptr);
  fs::current_path(previous);
}

TEST_F(BindingTest, LoaderNamesAndHandles) {
  Install(QVFW_LIBRARY);
  // A folder in the name, or a name that is no file name, loads nothing.
  for (const char* name : {"sub/QVFWUpdateDll", "..\\QVFWUpdateDll.dll", "", ".", ".dll"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(platform::LoadLibrary(name), nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorModNotFound);
  }
  const platform::Module a = platform::LoadLibrary("QVFWUpdateDll.dll");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(platform::LoadLibrary("QVFWUpdateDll"), a);
  EXPECT_EQ(platform::GetProcAddress(a, "QV_NoSuchEntry"), nullptr);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorProcNotFound);
  EXPECT_TRUE(platform::FreeLibrary(a));
  EXPECT_NE(platform::GetModuleHandle("QVFWUpdateDll"), nullptr);  // one use left
  EXPECT_TRUE(platform::FreeLibrary(a));
  // The released handle is refused, not followed.
  EXPECT_FALSE(platform::FreeLibrary(a));
  EXPECT_EQ(platform::GetProcAddress(a, "QV_GetDeviceList"), nullptr);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidHandle);
}

}  // namespace
