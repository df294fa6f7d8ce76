// A named mutex shared by every process of the station on this machine (and
// by the threads of each), for scans that must not overlap.
#pragma once

#include <memory>
#include <string>

namespace platform {

class NamedMutex {
 public:
  // Opens or creates the mutex; never fails (a lock file that cannot be made
  // leaves the mutex process-local, with a debug trace).
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // The file where processes meet for `name`; it stays after the last
  // holder, so a name made for one run is removed by whoever made it.
  static std::string LockFilePath(const std::string& name);

  // Waits without a time limit.
  void Wait();
  void Release();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Holds a named mutex for a scope.
class NamedMutexLock {
 public:
  explicit NamedMutexLock(NamedMutex& mutex) : mutex_(mutex) { mutex_.Wait(); }
  ~NamedMutexLock() { mutex_.Release(); }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

 private:
  NamedMutex& mutex_;
};

}  // namespace platform
