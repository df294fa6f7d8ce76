// Every entry point writes its name and arguments to the debug output as it
// is called, so that a station's call order can be read back: texts quoted,
// numbers in decimal, buffers the entry writes as "out".
#pragma once

#include <cstring>
#include <string>
#include <type_traits>

#include "platform/debug.h"
#include "qvfw/qvfw_api.h"

namespace qvfw {

inline void AppendArgument(std::string& line, const char* text) {
  if (text == nullptr) {
    line += "null";
    return;
  }
  line += '"';
  line.append(text, ::strnlen(text, kPathCapacity));
  line += '"';
}

template <class T>
void AppendArgument(std::string& line, T value) {
  if constexpr (std::is_pointer_v<T>) line += value == nullptr ? "null" : "out";
  else line += std::to_string(value);
}

// Never throws: an entry point lets nothing escape.
template <class... Args>
void TraceEntry(const char* name, const Args&... args) noexcept {
  try {
    std::string line = name;
    line += '(';
    bool first = true;
    ((line += first ? "" : ", ", AppendArgument(line, args), first = false), ...);
    line += ')';
    platform::OutputDebugString(line.c_str());
  } catch (...) {
  }
}

}  // namespace qvfw

#define QV_TRACE(...) ::qvfw::TraceEntry(__func__ __VA_OPT__(, ) __VA_ARGS__)
