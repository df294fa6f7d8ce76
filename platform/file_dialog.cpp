#include "platform/file_dialog.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<FileDialogSink*> g_sink{nullptr};
}

void SetFileDialogSink(FileDialogSink* sink) { g_sink.store(sink, std::memory_order_release); }

std::optional<std::string> ChooseFile(const FileDialogRequest& request) {
  if (FileDialogSink* sink = g_sink.load(std::memory_order_acquire)) return sink->Choose(request);
  return std::nullopt;
}

}  // namespace platform
