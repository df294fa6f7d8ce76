// Running the file-system and partition tools of the host on the images the
// bench keeps, so a test judges our bytes by the tool's view.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace disk::testing {

struct ToolResult {
  int exitCode = -1;
  std::string output;  // standard output and standard error
};

inline std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

inline ToolResult RunTool(const std::string& command) {
  ToolResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) result.output.append(buffer, n);
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

inline bool ToolPresent(const char* name) {
  return RunTool(std::string("command -v ") + name).exitCode == 0;
}

// Copies `length` bytes from `offset` of a sparse image into a sparse file of
// their own (the tools that take no offset read the partition from there),
// moving only the extents that hold data.
inline bool ExtractSparse(const std::string& image, uint64_t offset, uint64_t length,
                          const std::string& out) {
  const int in = ::open(image.c_str(), O_RDONLY);
  if (in < 0) return false;
  const int to = ::open(out.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  bool ok = to >= 0 && ::ftruncate(to, static_cast<off_t>(length)) == 0;
  std::vector<char> buffer(1 << 20);
  off_t at = static_cast<off_t>(offset);
  const off_t end = static_cast<off_t>(offset + length);
  while (ok && at < end) {
    const off_t data = ::lseek(in, at, SEEK_DATA);
    if (data < 0 || data >= end) break;
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0 || hole > end) hole = end;
    for (off_t p = data; ok && p < hole;) {
      const size_t chunk = static_cast<size_t>(std::min<off_t>(hole - p, buffer.size()));
      const ssize_t got = ::pread(in, buffer.data(), chunk, p);
      ok = got > 0 && ::pwrite(to, buffer.data(), static_cast<size_t>(got),
                               p - static_cast<off_t>(offset)) == got;
      p += got > 0 ? got : 0;
    }
    at = hole;
  }
  if (to >= 0) ::close(to);
  ::close(in);
  return ok;
}

}  // namespace disk::testing
