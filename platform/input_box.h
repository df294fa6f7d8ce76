// The input box: a caption, a prompt and an edit, OK or Cancel. What shows
// it is up to the installed sink: the window's sink shows a real dialog, a
// test's sink answers from a queue.
#pragma once

#include <optional>
#include <string>

#include "platform/recorded_requests.h"

namespace platform {

struct InputBoxRequest {
  std::string caption;
  std::string prompt;
  std::string initial;
  bool password = false;  // the typed text is masked
};

class InputBoxSink {
 public:
  virtual ~InputBoxSink() = default;
  // The text on OK, none on Cancel.
  virtual std::optional<std::string> Ask(const InputBoxRequest& request) = 0;
};

// Asks through the installed sink. Without a sink nobody can answer: Cancel.
std::optional<std::string> InputBox(const InputBoxRequest& request);

// Installs the process-wide sink (null restores the default); the sink must
// outlive its installation.
void SetInputBoxSink(InputBoxSink* sink);

class ScopedInputBoxSink {
 public:
  explicit ScopedInputBoxSink(InputBoxSink* sink) { SetInputBoxSink(sink); }
  ~ScopedInputBoxSink() { SetInputBoxSink(nullptr); }
  ScopedInputBoxSink(const ScopedInputBoxSink&) = delete;
  ScopedInputBoxSink& operator=(const ScopedInputBoxSink&) = delete;
};

// Records every request and answers from a queue (then Cancel).
class RecordingInputBoxSink : public InputBoxSink {
 public:
  std::optional<std::string> Ask(const InputBoxRequest& request) override {
    return recorded.Take(request);
  }
  RecordedRequests<InputBoxRequest> recorded;
};

}  // namespace platform
