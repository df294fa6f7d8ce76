#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/debug.h"

namespace platform {

InstanceLock::InstanceLock(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd_ < 0) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);  // a lock needs no write access
  if (fd_ < 0) {
    DebugTrace("InstanceLock: %s cannot be opened (errno %d)\n", path.c_str(), errno);
    return;
  }
  int result = 0;
  while ((result = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (result == 0) return;
  refused_ = errno == EWOULDBLOCK;
  if (!refused_) DebugTrace("InstanceLock: %s cannot be locked (errno %d)\n", path.c_str(), errno);
  ::close(fd_);
  fd_ = -1;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform
