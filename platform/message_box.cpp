#include "platform/message_box.h"

#include <atomic>
#include <cstdio>

namespace platform {
namespace {
std::atomic<MessageBoxSink*> g_sink{nullptr};
}

int DefaultAnswer(uint32_t flags) {
  switch (flags & kMbButtonMask) {
    case kMbYesNo:
    case kMbYesNoCancel:
      return kIdYes;
    case kMbRetryCancel:
      return kIdRetry;
    default:
      return kIdOk;
  }
}

void SetMessageBoxSink(MessageBoxSink* sink) { g_sink.store(sink, std::memory_order_release); }

int MessageBox(const char* text, const char* caption, uint32_t flags) {
  const std::string t = text ? text : "";
  const std::string c = caption ? caption : "";
  if (MessageBoxSink* sink = g_sink.load(std::memory_order_acquire)) return sink->Show(t, c, flags);
  std::fprintf(stderr, "[%s] %s\n", c.c_str(), t.c_str());
  return DefaultAnswer(flags);
}

void ShowMessage(const std::string& text) { MessageBox(text.c_str(), "", kMbOk | kMbPlainMessage); }

int RecordingMessageBoxSink::Show(const std::string& text, const std::string& caption,
                                  uint32_t flags) {
  std::lock_guard lock(mutex_);
  boxes_.push_back({text, caption, flags});
  if (answers_.empty()) return DefaultAnswer(flags);
  const int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void RecordingMessageBoxSink::QueueAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

std::vector<RecordingMessageBoxSink::Box> RecordingMessageBoxSink::boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

void RecordingMessageBoxSink::clear() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
  answers_.clear();
}

struct UiThreadMessageBoxSink::Request {
  std::string text;
  std::string caption;
  uint32_t flags = 0;
  int answer = 0;
  bool done = false;
};

UiThreadMessageBoxSink::UiThreadMessageBoxSink(MessageBoxSink& inner, std::function<void()> wake)
    : inner_(inner), wake_(std::move(wake)), uiThread_(std::this_thread::get_id()) {}

UiThreadMessageBoxSink::~UiThreadMessageBoxSink() { Close(); }

int UiThreadMessageBoxSink::Show(const std::string& text, const std::string& caption,
                                 uint32_t flags) {
  if (std::this_thread::get_id() == uiThread_) return inner_.Show(text, caption, flags);
  auto request = std::make_shared<Request>();
  request->text = text;
  request->caption = caption;
  request->flags = flags;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return DefaultAnswer(flags);
    queue_.push_back(request);
  }
  if (wake_) wake_();
  std::unique_lock lock(mutex_);
  answered_.wait(lock, [&] { return request->done; });
  return request->answer;
}

void UiThreadMessageBoxSink::Pump() {
  for (;;) {
    std::shared_ptr<Request> request;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      request = queue_.front();
      queue_.pop_front();
    }
    const int answer = inner_.Show(request->text, request->caption, request->flags);
    {
      std::lock_guard lock(mutex_);
      request->answer = answer;
      request->done = true;
    }
    answered_.notify_all();
  }
}

void UiThreadMessageBoxSink::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (auto& request : queue_) {
      request->answer = DefaultAnswer(request->flags);
      request->done = true;
    }
    queue_.clear();
  }
  answered_.notify_all();
}

}  // namespace platform
