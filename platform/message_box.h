// Modal message boxes. The station's code calls MessageBox from any thread;
// where the text goes is up to the installed sink: the window's sink shows a
// real box on the user-interface thread, a test's sink records and answers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

// Buttons and icons.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbOkCancel = 0x1;
inline constexpr uint32_t kMbYesNoCancel = 0x3;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbRetryCancel = 0x5;
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconWarning = 0x30;
inline constexpr uint32_t kMbIconInformation = 0x40;
inline constexpr uint32_t kMbButtonMask = 0xF;
// Not a system flag: the notice is the class library's plain message dialog
// (the application's title as its caption, no icon), not a captioned box.
inline constexpr uint32_t kMbPlainMessage = 0x80000000u;

// Answers.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// The answer a box gets when nobody is there to press a button: its first.
int DefaultAnswer(uint32_t flags);

class MessageBoxSink {
 public:
  virtual ~MessageBoxSink() = default;
  virtual int Show(const std::string& text, const std::string& caption, uint32_t flags) = 0;
};

// Shows a box through the installed sink and returns the button pressed.
// Without a sink the text goes to standard error and the default answer is
// returned.
int MessageBox(const char* text, const char* caption, uint32_t flags);

// The plain message dialog: same sink, an empty caption and kMbPlainMessage.
void ShowMessage(const std::string& text);

// Installs the process-wide sink (null restores the default). The sink must
// outlive its installation.
void SetMessageBoxSink(MessageBoxSink* sink);

class ScopedMessageBoxSink {
 public:
  explicit ScopedMessageBoxSink(MessageBoxSink* sink) { SetMessageBoxSink(sink); }
  ~ScopedMessageBoxSink() { SetMessageBoxSink(nullptr); }
  ScopedMessageBoxSink(const ScopedMessageBoxSink&) = delete;
  ScopedMessageBoxSink& operator=(const ScopedMessageBoxSink&) = delete;
};

// Records every box and answers from a queue of answers (then the default).
class RecordingMessageBoxSink : public MessageBoxSink {
 public:
  struct Box {
    std::string text;
    std::string caption;
    uint32_t flags;
  };
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;
  void QueueAnswer(int answer);
  std::vector<Box> boxes() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
  std::deque<int> answers_;
};

// Brings every box to the user-interface thread. A box raised on that thread
// goes straight to the inner sink; a box raised on another thread is queued,
// `wake` is called so the interface thread can schedule Pump(), and the
// raising thread blocks until the box has been answered.
class UiThreadMessageBoxSink : public MessageBoxSink {
 public:
  // Constructed on the user-interface thread.
  UiThreadMessageBoxSink(MessageBoxSink& inner, std::function<void()> wake);
  ~UiThreadMessageBoxSink() override;
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;
  // Shows the queued boxes; called on the user-interface thread.
  void Pump();
  // Answers every waiting and future box with its default (at shut-down).
  void Close();

 private:
  struct Request;
  MessageBoxSink& inner_;
  std::function<void()> wake_;
  std::thread::id uiThread_;
  std::mutex mutex_;
  std::condition_variable answered_;
  std::deque<std::shared_ptr<Request>> queue_;
  bool closed_ = false;
};

}  // namespace platform
