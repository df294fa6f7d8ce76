// The kernel's limit on the size of a file this process writes: a write
// that crosses it is cut short and the next one refused, as on a file
// system that has just filled up. No mount and no privilege needed.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdint>

namespace station::testing {

// Lifted when the object goes.
class FileSizeLimit {
 public:
  FileSizeLimit() {
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    // Refused writes, not the signal that would end the process.
    previousSignal_ = ::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    ::signal(SIGXFSZ, previousSignal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  // No file grows past `bytes` from now on.
  void Apply(uint64_t bytes) {
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }

 private:
  rlimit previous_{};
  sighandler_t previousSignal_ = SIG_DFL;
};

}  // namespace station::testing
