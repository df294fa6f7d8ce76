// A main window on a bench of our choosing: a program folder of its own
// with the settings file the test writes, the operator's dialogs recorded
// and answered from queues, a fast station clock, and the window's widgets
// found by their object names.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTreeWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/file_dialog.h"
#include "platform/input_box.h"
#include "platform/local_time.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "sim/bench.h"
#include "station/settings_file.h"
#include "station/windows/main_form.h"
#include "station/windows/message_pump.h"

namespace station::testing {

inline std::string MakeTempFolder() {
  char pattern[] = "/tmp/kestrova_window.XXXXXX";
  const char* made = ::mkdtemp(pattern);
  return made ? made : "";
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Counts the WM_PORT_UPDATE messages that reach the window.
class PortUpdateCounter : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == static_cast<QEvent::Type>(kWmPortUpdate)) ++count;
    return false;
  }
};

// 2024-01-31 10:00 local: the day the day log is named after.
inline constexpr int64_t kTestDayUnixMs = 1706695200000;

// An environment variable set for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (previous_) ::setenv(name_, previous_->c_str(), 1);
    else ::unsetenv(name_);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// The fixture of either program's main window `Form`.
template <class Form>
class BasicWindowTest : public ::testing::Test {
 public:
  BasicWindowTest()
      : folder_(MakeTempFolder()),
        programFolder_(folder_),
        configHome_("XDG_CONFIG_HOME", folder_ + "/config"),
        boxScope_(&boxes_),
        inputScope_(&input_),
        fileScope_(&files_),
        clock_(1000) {
    platform::SetLocalTime(kTestDayUnixMs);
  }
  ~BasicWindowTest() override {
    form_.reset();
    std::filesystem::remove_all(folder_);
  }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  void WriteIni(const std::string& text) const { WriteFile(kSettingsFileName, text); }

  // Installs the bench described by `text` (empty: nothing attached).
  void Bench(const std::string& text) {
    std::string error;
    backend_.reset();  // its own predecessor goes back in first
    bench_ = sim::Bench::FromText(text, &error);
    ASSERT_TRUE(bench_) << error;
    backend_ = std::make_unique<platform::ScopedBackend>(bench_);
  }

  // The window's start-up on the installed bench (an empty one if none).
  Form& Start() {
    if (!bench_) Bench("");
    if (!std::filesystem::exists(Path("pattern.txt"))) WriteFile("pattern.txt", "00");
    form_ = std::make_unique<Form>();
    form_->installEventFilter(&portUpdates_);
    Pump();
    return *form_;
  }

  // Lets queued events (WM_PORT_UPDATE) arrive.
  static void Pump() { QCoreApplication::processEvents(); }
  // Lets the window's messages that are due now arrive (also to a window
  // still in its start-up).
  static void Deliver() {
    Pump();
    for (QWidget* window : QApplication::topLevelWidgets())
      for (WindowMessagePump* pump : window->findChildren<WindowMessagePump*>()) pump->DispatchDue();
    Pump();
  }
  // `ms` of station time pass, then what fell due arrives.
  static void Elapse(uint32_t ms) {
    platform::Sleep(ms);
    Deliver();
  }

  template <class W>
  W* Find(const char* name) const {
    W* widget = form_->template findChild<W*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QCheckBox* Box(const char* name) const { return Find<QCheckBox>(name); }
  QLineEdit* Edit(const char* name) const { return Find<QLineEdit>(name); }
  QComboBox* Combo(const char* name) const { return Find<QComboBox>(name); }
  QPushButton* Button(const char* name) const { return Find<QPushButton>(name); }
  bool Shown(const char* name) const { return OwnVisibleFlag(Find<QWidget>(name)); }
  bool Enabled(const char* name) const { return !Find<QWidget>(name)->testAttribute(Qt::WA_ForceDisabled); }
  static bool OwnVisibleFlag(const QWidget* w) { return w->isVisibleTo(w->parentWidget()); }

  // The operator opens a choice box's list with a click, moves to the item
  // with the keys and takes it with Enter. Qt itself emits `activated`,
  // also for the item already chosen; a disabled box opens no list.
  static void Choose(QComboBox* box, int index) {
    QTest::mouseClick(box, Qt::LeftButton);
    QAbstractItemView* list = box->view();
    ASSERT_TRUE(list->isVisible()) << box->objectName().toStdString() << " opens no list";
    QTest::keyClick(list, Qt::Key_Home);
    for (int i = 0; i < index; ++i) QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Enter);
  }
  // The operator clicks a check box at its indicator when it is not as
  // wanted.
  static void Check(QCheckBox* box, bool checked) {
    if (box->isChecked() == checked) return;
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, indicator.center());
  }
  // The operator clicks the node of the port tree at `index` (0-based).
  void ClickPortNode(int index) const {
    auto* tree = Find<QTreeWidget>("TreeView1");
    const QRect rect = tree->visualItemRect(tree->topLevelItem(index));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
  }
  // The operator replaces an edit's text by typing.
  static void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes_.boxes()) texts.push_back(box.text);
    return texts;
  }
  bool Showed(const std::string& text) const {
    for (const auto& box : boxes_.boxes())
      if (box.text == text) return true;
    return false;
  }

  std::string folder_;
  platform::ScopedProgramFolder programFolder_;
  // The platform's Windows folder is the test's own, never the user's.
  ScopedEnvironment configHome_;
  platform::RecordingMessageBoxSink boxes_;
  platform::ScopedMessageBoxSink boxScope_;
  platform::RecordingInputBoxSink input_;
  platform::ScopedInputBoxSink inputScope_;
  platform::RecordingFileDialogSink files_;
  platform::ScopedFileDialogSink fileScope_;
  platform::ScopedClockScale clock_;
  std::shared_ptr<sim::Bench> bench_;
  std::unique_ptr<platform::ScopedBackend> backend_;
  PortUpdateCounter portUpdates_;
  std::unique_ptr<Form> form_;
};

using WindowTest = BasicWindowTest<TMainForm>;

// The device list refresh keeps EEPROMType disabled, so no operator chooses
// a type: a test selects one as the refresh does, the item and then the
// type handler as for a choice.
inline void SelectEepromType(TMainForm& form, QComboBox* box, int index) {
  box->setCurrentIndex(index);
  form.EEPROMTypeChange();
}

// A settings file with the given lines in its "setting" section and, after
// it, whatever else the test adds.
inline std::string Ini(const std::string& setting, const std::string& more = "") {
  return "[setting]\r\nWriteFileName=pattern.txt\r\n" + setting + "\r\n" + more;
}

// `count` products of one chip type on the default root hub.
inline std::string Products(int chipType, int count, const std::string& keys = "") {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += "[product c" + std::to_string(chipType) + "_" + std::to_string(i) + "]\nchip = " +
            std::to_string(chipType) + "\nserial = 5" + std::to_string(chipType * 100 + i) + "\n" + keys;
  }
  return text;
}

}  // namespace station::testing
