// The named mutex serialises threads of one process and separate processes.
#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::NamedMutex;
using platform::NamedMutexLock;

// A name of this test process alone; its lock file goes with it.
class UniqueName {
 public:
  explicit UniqueName(const char* what)
      : name_(std::string("QVUSBAcess-test-") + what + "-" + std::to_string(::getpid())) {}
  ~UniqueName() { std::remove(NamedMutex::LockFilePath(name_).c_str()); }
  UniqueName(const UniqueName&) = delete;
  UniqueName& operator=(const UniqueName&) = delete;
  operator const std::string&() const { return name_; }

 private:
  std::string name_;
};

TEST(NamedMutexTest, ThreadsTakeTurns) {
  const UniqueName name("threads");
  NamedMutex mutex(name);
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  int counter = 0;  // guarded by the mutex only
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        NamedMutexLock lock(mutex);
        if (inside.fetch_add(1) != 0) overlapped = true;
        ++counter;
        inside.fetch_sub(1);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(counter, 1600);
}

TEST(NamedMutexTest, TwoObjectsOfOneNameExcludeEachOther) {
  const UniqueName name("objects");
  NamedMutex a(name), b(name);
  a.Wait();
  std::atomic<bool> got{false};
  std::thread other([&] {
    b.Wait();
    got = true;
    b.Release();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(got);
  a.Release();
  other.join();
  EXPECT_TRUE(got);
}

TEST(NamedMutexTest, TheOwnerMayWaitAgainAndOthersCannotRelease) {
  const UniqueName name("owner");
  NamedMutex mutex(name);
  mutex.Wait();
  mutex.Wait();  // counts, like the system's mutex
  std::thread([&] { mutex.Release(); }).join();  // not the owner: no effect
  mutex.Release();
  std::atomic<bool> got{false};
  std::thread other([&] {
    NamedMutexLock lock(mutex);
    got = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(got);  // still held once
  mutex.Release();
  other.join();
  EXPECT_TRUE(got);
}

// The parent holds the mutex; a child process must wait for it.
TEST(NamedMutexTest, AnotherProcessWaitsForTheHolder) {
  const UniqueName name("process");
  NamedMutex mutex(name);
  mutex.Wait();
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipe[0]);
    NamedMutex mine(name);
    mine.Wait();
    const char byte = 'x';
    const bool wrote = ::write(pipe[1], &byte, 1) == 1;
    mine.Release();
    ::_exit(wrote ? 0 : 1);
  }
  ::close(pipe[1]);
  pollfd fd{pipe[0], POLLIN, 0};
  EXPECT_EQ(::poll(&fd, 1, 200), 0) << "the child got the mutex while the parent held it";
  mutex.Release();
  EXPECT_EQ(::poll(&fd, 1, 5000), 1);
  char byte = 0;
  EXPECT_EQ(::read(pipe[0], &byte, 1), 1);
  ::close(pipe[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
