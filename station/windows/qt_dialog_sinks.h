// The operator's dialogs on Qt: message boxes with their captions, icons
// and buttons (the plain message dialog with the application's title and no
// icon), the input box and the file dialogs. Installed by the program entry;
// tests install the recording sinks of the platform layer instead.
#pragma once

#include <QTimer>

#include <memory>

#include "platform/file_dialog.h"
#include "platform/input_box.h"
#include "platform/message_box.h"

namespace station {

class QtMessageBoxSink : public platform::MessageBoxSink {
 public:
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;
};

class QtInputBoxSink : public platform::InputBoxSink {
 public:
  std::optional<std::string> Ask(const platform::InputBoxRequest& request) override;
};

class QtFileDialogSink : public platform::FileDialogSink {
 public:
  std::optional<std::string> Choose(const platform::FileDialogRequest& request) override;
};

// All three installed for the life of the object. A box raised on a worker
// thread waits in the user-interface sink until the interface thread's
// timer shows it: the worker itself never touches Qt.
class QtDialogs {
 public:
  QtDialogs();
  ~QtDialogs();
  QtDialogs(const QtDialogs&) = delete;
  QtDialogs& operator=(const QtDialogs&) = delete;

 private:
  QtMessageBoxSink boxes_;
  platform::UiThreadMessageBoxSink uiBoxes_;
  QtInputBoxSink input_;
  QtFileDialogSink files_;
  QTimer pump_;
};

}  // namespace station
