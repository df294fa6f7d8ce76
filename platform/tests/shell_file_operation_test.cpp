// The shell's copy and the folder creation with parents, on a bench drive:
// what a list of files, folders and patterns becomes in the destination,
// and the errors that stop a copy.
#include "platform/shell_file_operation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/files.h"
#include "platform/tests/hooked_bench.h"
#include "sim/bench.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;

class ShellCopy : public ::testing::Test {
 protected:
  ShellCopy() {
    bench_ = platform::testing::HookedBenchWithFatVolumeE(131072);
    installed_.emplace(bench_);
    source_ = fs::path(bench_->HostFolder('E')).parent_path() / "shell_copy_source";
    fs::create_directories(source_ / "sub" / "deeper");
    Put("a.txt", "alpha");
    Put("noext", "no extension");
    Put("sub/b.bin", std::string(3000, 'b'));
    Put("sub/deeper/c.txt", "");
  }
  ~ShellCopy() override {
    std::error_code ignored;
    fs::remove_all(source_, ignored);
  }
  void Put(const std::string& name, const std::string& content) {
    std::ofstream(source_ / name, std::ios::binary) << content;
  }
  std::string E(const std::string& tail) { return bench_->HostFolder('E') + "/" + tail; }
  static std::string List(const std::vector<std::string>& paths) {
    std::string list;
    for (const std::string& p : paths) list += p + '\0';
    return list + '\0';
  }
  uint32_t Copy(const std::vector<std::string>& from, const std::string& to,
                uint16_t flags = kFofNoConfirmation | kFofNoErrorUi | kFofSilent) {
    const std::string list = List(from);
    ShFileOpStruct op;
    op.func = kFoCopy;
    op.from = list.c_str();
    op.to = to.c_str();
    op.flags = flags;
    return SHFileOperation(&op);
  }
  std::string Src(const std::string& tail = "") { return source_.string() + (tail.empty() ? "" : "/" + tail); }

  std::shared_ptr<sim::Bench> bench_;
  std::optional<ScopedBackend> installed_;
  fs::path source_;
};

TEST_F(ShellCopy, APatternCopiesWhatItMatchesFoldersWithAllTheyHold) {
  ASSERT_EQ(Copy({Src("*.*")}, "E:\\SW\\Image"), 0u);
  EXPECT_EQ(std::system(("diff -r '" + Src() + "' '" + E("SW/Image") + "'").c_str()), 0);

  ASSERT_EQ(Copy({Src("*.txt")}, "E:\\Texts"), 0u);
  EXPECT_TRUE(fs::exists(E("Texts/a.txt")));
  EXPECT_FALSE(fs::exists(E("Texts/noext")));
  EXPECT_FALSE(fs::exists(E("Texts/sub")));
}

TEST_F(ShellCopy, AFolderOrAFileNamedPlainlyGoesBelowTheDestination) {
  ASSERT_EQ(Copy({Src("sub"), Src("a.txt")}, "E:\\Plain"), 0u);
  EXPECT_EQ(std::system(("diff -r '" + Src("sub") + "' '" + E("Plain/sub") + "'").c_str()), 0);
  EXPECT_EQ(std::system(("cmp -s '" + Src("a.txt") + "' '" + E("Plain/a.txt") + "'").c_str()), 0);
}

TEST_F(ShellCopy, ExistingFilesAreReplacedWithoutAQuestion) {
  fs::create_directories(E("Again"));
  std::ofstream(E("Again/a.txt")) << "old and longer than alpha";
  ASSERT_EQ(Copy({Src("*.*")}, "E:\\Again"), 0u);
  EXPECT_EQ(std::system(("diff -r '" + Src() + "' '" + E("Again") + "'").c_str()), 0);
  // Without "yes to all" nobody answers: nothing is replaced, no folder made.
  EXPECT_NE(Copy({Src("a.txt")}, "E:\\Again", kFofSilent), 0u);
  EXPECT_NE(Copy({Src("a.txt")}, "E:\\NotMade", kFofSilent), 0u);
  EXPECT_FALSE(fs::exists(E("NotMade")));
}

TEST_F(ShellCopy, ErrorsStopTheCopy) {
  EXPECT_EQ(Copy({Src("missing.txt")}, "E:\\X"), kErrorFileNotFound);
  EXPECT_NE(Copy({Src("nofolder/*.*")}, "E:\\X"), 0u);
  EXPECT_EQ(Copy({Src("*.zzz")}, "E:\\X"), 0u) << "a pattern that matches nothing copies nothing";
  // A destination inside what is copied would copy itself forever.
  EXPECT_EQ(Copy({"E:\\SW"}, "E:\\SW\\Inner"), kShellErrorDestinationInSource);
  ShFileOpStruct op;
  const std::string list = List({Src("a.txt")});
  op.func = 3;  // a move
  op.from = list.c_str();
  op.to = "E:\\X";
  EXPECT_EQ(SHFileOperation(&op), kErrorNotSupported);
  op.func = kFoCopy;
  op.to = "";
  EXPECT_EQ(SHFileOperation(&op), kErrorInvalidParameter);
}

TEST_F(ShellCopy, FolderCreationWithParents) {
  struct Case {
    const char* path;
    bool ok;
    uint32_t error;
  } const cases[] = {
      {"E:\\t1\\t2\\t3", true, kErrorSuccess},
      {"E:\\t1\\t2\\t3\\", true, kErrorAlreadyExists},
      {"E:\\t1", true, kErrorAlreadyExists},
      {"E:\\", true, kErrorAlreadyExists},
      {"E:\\file.txt\\below", false, kErrorPathNotFound},
      {"E:\\file.txt", false, kErrorAlreadyExists},
      {"Q:\\nodrive\\x", false, kErrorPathNotFound},
      {"", false, kErrorPathNotFound},
  };
  std::ofstream(E("file.txt")) << "x";
  for (const Case& c : cases) {
    EXPECT_EQ(CreateDirectoryTree(c.path), c.ok) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
  EXPECT_TRUE(fs::is_directory(E("t1/t2/t3")));
}

}  // namespace
