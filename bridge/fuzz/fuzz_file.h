// A scratch file that holds one fuzz input, removed when the fuzzer exits.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace bridge::fuzz {

class ScratchFile {
 public:
  explicit ScratchFile(const char* stem) {
    path_ = std::string("/tmp/") + stem + ".XXXXXX";
    const int fd = ::mkstemp(path_.data());
    if (fd < 0) __builtin_trap();
    ::close(fd);
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const char* path() const { return path_.c_str(); }
  void Write(const uint8_t* data, size_t size) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) __builtin_trap();
    if (size != 0 && std::fwrite(data, 1, size, file) != size) __builtin_trap();
    std::fclose(file);
  }

 private:
  std::string path_;
};

inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace bridge::fuzz
