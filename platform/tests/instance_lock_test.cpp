// The instance lock as the util-linux flock(1) tool sees it: the same
// kernel lock, refused to a second holder, and free again as soon as its
// holder is gone, also when that holder was killed.
#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

extern char** environ;

namespace platform {
namespace {

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v flock >/dev/null 2>&1") != 0) GTEST_SKIP() << "flock(1) missing";
    char pattern[] = "/tmp/kestrova_lock.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/Kestrova.lock";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  // flock(1) takes the lock without waiting: 0 when it could.
  int ToolTakes() const { return std::system(("flock -n -x '" + path_ + "' true").c_str()); }
  std::string dir_, path_;
};

TEST_F(InstanceLockTest, ASecondHolderIsRefusedUntilTheFirstGoes) {
  {
    const InstanceLock first(path_);
    EXPECT_FALSE(first.Refused());
    EXPECT_NE(ToolTakes(), 0);
    const InstanceLock second(path_);  // another object of this process
    EXPECT_TRUE(second.Refused());
  }
  EXPECT_EQ(ToolTakes(), 0);
  EXPECT_FALSE(InstanceLock(path_).Refused());
  // A folder nobody may make a file in guards nothing and refuses nothing.
  EXPECT_FALSE(InstanceLock(dir_ + "/no/such/folder/Kestrova.lock").Refused());
}

TEST_F(InstanceLockTest, AKilledHoldersLockIsFree) {
  // flock(1) holds the lock itself (-o) and runs cat, which waits on its
  // input; "held" says the lock is taken.
  int toChild[2], fromChild[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(fromChild), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  posix_spawn_file_actions_addclose(&actions, toChild[1]);
  posix_spawn_file_actions_addclose(&actions, fromChild[0]);
  const std::string script = "echo held; exec cat";
  char* argv[] = {const_cast<char*>("flock"), const_cast<char*>("-o"), const_cast<char*>("-x"),
                  const_cast<char*>(path_.c_str()), const_cast<char*>("-c"), const_cast<char*>(script.c_str()), nullptr};
  pid_t holder = 0;
  ASSERT_EQ(posix_spawnp(&holder, "flock", &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  char said[5] = {};
  ASSERT_EQ(::read(fromChild[0], said, 5), 5);
  EXPECT_EQ(std::string(said, 5), "held\n");

  EXPECT_TRUE(InstanceLock(path_).Refused());
  ASSERT_EQ(::kill(holder, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(InstanceLock(path_).Refused());
  ::close(toChild[1]);  // cat ends with its input
  ::close(fromChild[0]);
}

}  // namespace
}  // namespace platform
