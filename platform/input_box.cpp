#include "platform/input_box.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<InputBoxSink*> g_sink{nullptr};
}

void SetInputBoxSink(InputBoxSink* sink) { g_sink.store(sink, std::memory_order_release); }

std::optional<std::string> InputBox(const InputBoxRequest& request) {
  if (InputBoxSink* sink = g_sink.load(std::memory_order_acquire)) return sink->Ask(request);
  return std::nullopt;
}

}  // namespace platform
