#include "platform/debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

struct DebugState {
  std::mutex mutex;
  DebugSink sink;
  bool toStderr = [] {
    const char* v = std::getenv("KESTROVA_DEBUG");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
  }();
};

DebugState& State() {
  static DebugState state;
  return state;
}

}  // namespace

void SetDebugSink(DebugSink sink) {
  DebugState& s = State();
  std::lock_guard lock(s.mutex);
  s.sink = std::move(sink);
}

void OutputDebugString(const char* text) {
  if (text == nullptr) return;
  DebugState& s = State();
  std::lock_guard lock(s.mutex);
  if (s.sink) {
    s.sink(text);
  } else if (s.toStderr) {
    std::fputs(text, stderr);
    const size_t n = std::strlen(text);
    if (n == 0 || text[n - 1] != '\n') std::fputc('\n', stderr);
  }
}

void DebugTrace(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  OutputDebugString(text);
}

}  // namespace platform
