// Sharing of host files between handles and between processes: an open
// that another handle's access or denial forbids fails with a sharing
// violation and leaves the file as it was; a closed handle forbids nothing.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/files.h"

namespace platform {
namespace {

constexpr uint32_t R = kAccessRead, W = kAccessWrite;
constexpr uint32_t kShareAll = kShareRead | kShareWrite;

class FileSharingTest : public ::testing::Test {
 protected:
  FileSharingTest() {
    char pattern[] = "/tmp/kestrova_sharing.XXXXXX";
    folder_ = ::mkdtemp(pattern);
    path_ = folder_ + "/day.txt";
    std::ofstream(path_, std::ios::binary) << "kept";
  }
  ~FileSharingTest() override { std::filesystem::remove_all(folder_); }
  std::string Content() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  Handle Open(uint32_t access, uint32_t share, uint32_t disposition = kOpenExisting) const {
    return CreateFile(path_.c_str(), access, share, disposition, kFileAttributeNormal);
  }

  std::string folder_, path_;
};

TEST_F(FileSharingTest, SecondOpenAgainstTheFirst) {
  struct Case {
    uint32_t firstAccess, firstShare, secondAccess, secondShare;
    bool allowed;
  };
  const Case cases[] = {
      {W, kShareRead, R, kShareAll, true},    // the log's writer lets readers in
      {W, kShareRead, W, kShareAll, false},   // but no second writer
      {W, kShareRead, R, kShareRead, false},  // nor a reader that denies the writer
      {R, kShareRead, W, kShareRead, false},  // a reader that denies writing keeps writers out
      {R, kShareAll, W, kShareRead, true},
      {W, kShareAll, W, kShareAll, true},
      {R, 0, R, kShareAll, false},
      {R | W, kShareAll, R, kShareRead, false},
  };
  for (const Case& c : cases) {
    const Handle first = Open(c.firstAccess, c.firstShare);
    ASSERT_NE(first, kInvalidHandle);
    const Handle second = Open(c.secondAccess, c.secondShare);
    EXPECT_EQ(second != kInvalidHandle, c.allowed)
        << c.firstAccess << "/" << c.firstShare << " then " << c.secondAccess << "/" << c.secondShare;
    if (second == kInvalidHandle) EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    else CloseHandle(second);
    CloseHandle(first);
    // Nothing stays behind a closed handle.
    const Handle again = Open(c.secondAccess, c.secondShare);
    EXPECT_NE(again, kInvalidHandle);
    CloseHandle(again);
  }
}

TEST_F(FileSharingTest, RefusedOpenTruncatesNothing) {
  const Handle holder = Open(R, kShareRead);
  ASSERT_NE(holder, kInvalidHandle);
  EXPECT_EQ(Open(W, kShareAll, kCreateAlways), kInvalidHandle);
  EXPECT_EQ(Open(W, kShareAll, kTruncateExisting), kInvalidHandle);
  EXPECT_EQ(Content(), "kept");
  CloseHandle(holder);
  const Handle writer = Open(W, kShareRead, kCreateAlways);
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_EQ(Content(), "");
  CloseHandle(writer);
}

// Another process holding the file for writing, denying writers: this one
// cannot write it until that process lets go.
TEST_F(FileSharingTest, AcrossProcesses) {
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const Handle held = Open(W, kShareRead);
    const char ok = held != kInvalidHandle ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    char go = 0;
    (void)!::read(release[0], &go, 1);
    ::_exit(0);
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  EXPECT_EQ(Open(W, kShareRead), kInvalidHandle);
  EXPECT_EQ(GetLastError(), kErrorSharingViolation);
  const Handle reader = Open(R, kShareAll);
  EXPECT_NE(reader, kInvalidHandle);
  CloseHandle(reader);
  ASSERT_EQ(::write(release[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const Handle writer = Open(W, kShareRead);
  EXPECT_NE(writer, kInvalidHandle);
  CloseHandle(writer);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

}  // namespace
}  // namespace platform
