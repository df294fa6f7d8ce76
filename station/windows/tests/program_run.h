// A station program's windows run as its entry runs them, on the event
// loop, with the operator acting once the main window shows.
#pragma once

#include <QApplication>
#include <QMetaObject>
#include <QObject>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/message_box.h"

#include "station/windows/program_entry.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace station::testing {

// An exception that the application object catches has unwound Qt's own
// frames, which are built without cleanups: what they held for the event
// (a copy of it, a guard of its receiver) is never freed. Those few bytes
// are the cost of going on, not a leak of the station's.
class QtFramesUnwound {
 public:
  QtFramesUnwound() {
#if defined(__SANITIZE_ADDRESS__)
    __lsan_disable();
#endif
  }
  ~QtFramesUnwound() {
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
  }
  QtFramesUnwound(const QtFramesUnwound&) = delete;
  QtFramesUnwound& operator=(const QtFramesUnwound&) = delete;
};

// A message box that throws the first time it is asked to show, as an
// exception from deep inside a handler would; later boxes go to `shown`.
class ThrowingOnceBox : public platform::MessageBoxSink {
 public:
  explicit ThrowingOnceBox(platform::RecordingMessageBoxSink& shown) : shown_(shown) {}
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override {
    if (!std::exchange(thrown, true)) throw std::runtime_error("Out of memory.");
    return shown_.Show(text, caption, flags);
  }
  bool thrown = false;

 private:
  platform::RecordingMessageBoxSink& shown_;
};

// A widget of the window found by its name.
template <class W>
W* Child(const QWidget& window, const char* name) {
  W* widget = window.findChild<W*>(name);
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

// A window of that class shows.
inline bool Showing(const char* windowClass) {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->inherits(windowClass) && window->isVisible()) return true;
  return false;
}

// The ways a program's main window closes with another window showing: the
// result window after a pass, the detail window (the pass then shows its
// result on the main window), and a close that came during a pass.
struct ProgramEndCase {
  const char* name;
  const char* setting;
  bool closeDuringPass;
  bool detailWindow;  // else the result window is left showing
};
inline constexpr ProgramEndCase kProgramEndCases[] = {
    {"result window", "", false, false},
    {"detail window", "MPPassLabel=1", false, true},
    {"close during a pass", "", true, false},
};

// `then` after `hops` rounds of the posted events: what was posted before
// the first round is handled first.
inline void AfterPostedEvents(QObject& context, int hops, std::function<void()> then) {
  if (hops == 0) return then();
  QMetaObject::invokeMethod(
      &context, [&context, hops, then = std::move(then)] { AfterPostedEvents(context, hops - 1, then); },
      Qt::QueuedConnection);
}

// The entry's windows and loop with `act` done in the shown main window.
// The loop's status; none when the loop still ran after the events that
// the act left behind (it is then ended here).
template <class Form>
std::optional<int> RunProgramWindows(const std::function<void(Form&)>& act) {
  constexpr int kStillRunning = -1;
  QObject context;
  bool stillRunning = false;
  std::function<void()> whenShown = [&] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* form = dynamic_cast<Form*>(window);
      if (!form || !form->isVisible()) continue;
      act(*form);
      AfterPostedEvents(context, 3, [&] {
        stillRunning = true;
        QCoreApplication::exit(kStillRunning);
      });
      return;
    }
    QMetaObject::invokeMethod(&context, whenShown, Qt::QueuedConnection);
  };
  QMetaObject::invokeMethod(&context, whenShown, Qt::QueuedConnection);
  const int status = RunStationWindows<Form>();
  if (stillRunning) return std::nullopt;
  return status;
}

}  // namespace station::testing
