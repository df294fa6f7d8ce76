// A pipe where a file is expected, holding a few pages of zeros behind a
// writer that stays: a reader that opens and reads it goes on at once with
// bytes that are no file of any kind, where without a writer it would wait
// for ever, and the bytes left tell whether anything read it. A fault so
// shows as a failed check instead of a test that never ends.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace platform::testing {

class WatchedPipe {
 public:
  explicit WatchedPipe(const std::string& path) {
    if (::mkfifo(path.c_str(), 0600) != 0) return;
    // Open for reading and writing, a pipe waits for no other end.
    fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    const std::vector<char> zeros(kBytes);
    made_ = fd_ >= 0 && ::write(fd_, zeros.data(), zeros.size()) == kBytes;
  }
  ~WatchedPipe() {
    if (fd_ >= 0) ::close(fd_);
  }
  WatchedPipe(const WatchedPipe&) = delete;
  WatchedPipe& operator=(const WatchedPipe&) = delete;

  bool made() const { return made_; }
  // Whether anything took bytes out of it.
  bool ReadFrom() const {
    int left = -1;
    return ::ioctl(fd_, FIONREAD, &left) != 0 || left != kBytes;
  }

 private:
  static constexpr int kBytes = 8192;
  int fd_ = -1;
  bool made_ = false;
};

}  // namespace platform::testing
