// Diagnostic traces. They carry no behaviour: by default they are dropped,
// KESTROVA_DEBUG=1 in the environment sends them to standard error, and a
// test can install its own sink.
#pragma once

#include <functional>
#include <string>

namespace platform {

void OutputDebugString(const char* text);
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

using DebugSink = std::function<void(const std::string&)>;
// Installs a sink (an empty function restores the default). Process-wide.
void SetDebugSink(DebugSink sink);

}  // namespace platform
