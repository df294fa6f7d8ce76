#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/debug.h"

namespace platform {

// Threads of this process meet at the owner field; processes meet at an
// flock on a lock file, taken by the owning thread. Like the system's
// mutex, the owner may wait again (it counts), and only the owner releases.
struct NamedMutex::Impl {
  std::mutex mutex;
  std::condition_variable released;
  std::thread::id owner;
  int depth = 0;
  int fd = -1;
};

std::string NamedMutex::LockFilePath(const std::string& name) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string path = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  path += "/kestrova-mutex-";
  for (char c : name) path.push_back((c == '/' || c == '\\') ? '_' : c);
  return path + ".lock";
}

NamedMutex::NamedMutex(const std::string& name) : impl_(std::make_unique<Impl>()) {
  const std::string path = LockFilePath(name);
  impl_->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (impl_->fd < 0)
    DebugTrace("NamedMutex: cannot open %s (errno %d); the mutex serialises this process only\n",
               path.c_str(), errno);
}

NamedMutex::~NamedMutex() {
  if (impl_->fd >= 0) ::close(impl_->fd);
}

void NamedMutex::Wait() {
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock lock(impl_->mutex);
  if (impl_->owner == me) {
    ++impl_->depth;
    return;
  }
  impl_->released.wait(lock, [&] { return impl_->depth == 0; });
  impl_->owner = me;
  impl_->depth = 1;
  lock.unlock();
  // Other threads now wait on the owner field; this one waits for other
  // processes.
  if (impl_->fd >= 0)
    while (::flock(impl_->fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

void NamedMutex::Release() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->owner != std::this_thread::get_id() || impl_->depth == 0) return;  // not the owner
  if (--impl_->depth > 0) return;
  if (impl_->fd >= 0) ::flock(impl_->fd, LOCK_UN);
  impl_->owner = std::thread::id();
  impl_->released.notify_one();
}

}  // namespace platform
