// An advisory lock on a file, held for the life of the object, that the
// kernel drops when its process ends however it ends (a crash, kill -9):
// no stale lock is ever left to clear by hand.
#pragma once

#include <string>

namespace platform {

class InstanceLock {
 public:
  // Tries once, without waiting; the file is made when it is missing. A
  // file that can be neither made nor opened guards nothing and refuses
  // nothing (a folder nobody may write in).
  explicit InstanceLock(const std::string& path);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Another holder has the lock: another process, or another object of
  // this one.
  bool Refused() const { return refused_; }

 private:
  int fd_ = -1;
  bool refused_ = false;
};

}  // namespace platform
