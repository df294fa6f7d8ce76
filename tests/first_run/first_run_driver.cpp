// An operator for the real program, loaded into it before it starts
// (LD_PRELOAD) so that the program runs as shipped, with nothing of its own
// changed: when the application object exists it makes the station clock
// fast, then answers every message box with its default button, waits for
// START to be usable, presses it with the mouse, and when the pass is over
// reports what the windows show and closes the main window as an operator
// would, so the program saves its settings and ends by itself.
//
// It reports on standard output, one line each, fields separated by tabs:
//   message <title> <text>     a message box, answered with its default button
//   rows <when> <n>            then n lines "row <caption> <cells...>" of the
//                              port list's present ports
//   yield <text>               the yield field
//   result PASS|FAIL|none      the result window's sign after START
//   picture <path>             a picture of the screen, saved
//   start disabled             START never became usable
// Pictures go to the folder KESTROVA_SCREENSHOTS names, named after the
// program ("first-run-Kestrova-ready.png", "first-run-Kestrova-result.png").
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/clock.h"

namespace {

// Station milliseconds per real one while the driver runs the program: the
// pass's sleeps and the bench's device time cost little real time, while
// every outcome is decided on the station clock.
constexpr double kClockScale = 1000;
// How often the driver looks at the windows (real time).
constexpr int kLookIntervalMs = 50;
// Looks at the main window before it counts as settled as it is: START
// still unusable then is reported, else pressed whatever the rows show.
constexpr int kStartLooks = 100;

void Report(const QString& line) {
  std::printf("%s\n", line.toLocal8Bit().constData());
  std::fflush(stdout);
}

QString PictureFolder() {
  const char* folder = std::getenv("KESTROVA_SCREENSHOTS");
  return folder != nullptr && *folder != '\0' ? QString::fromLocal8Bit(folder) : QString("screenshots");
}

// The screen as the X server shows it: every window in its place.
void SavePicture(const QString& what) {
  QTest::qWait(200);  // let the server draw what the windows sent it
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QDir().mkpath(PictureFolder());
  const QString path = PictureFolder() + "/first-run-" +
                       QFileInfo(QCoreApplication::applicationFilePath()).fileName() + "-" + what + ".png";
  if (screen->grabWindow(0).save(path, "PNG")) Report("picture\t" + path);
}

QMainWindow* MainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* main = qobject_cast<QMainWindow*>(w); main != nullptr && main->isVisible()) return main;
  return nullptr;
}

// The port list's present rows, each "row" and its cells.
QStringList Rows(QMainWindow& main) {
  QStringList rows;
  auto* list = main.findChild<QTreeWidget*>("ListView1");
  for (int i = 0; list != nullptr && i < list->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = list->topLevelItem(i);
    if (item->isHidden() || item->text(1).isEmpty()) continue;
    QStringList cells;
    for (int c = 0; c < item->columnCount(); ++c) cells << item->text(c);
    rows << "row\t" + cells.join('\t');
  }
  return rows;
}

void ReportRows(QMainWindow& main, const QString& when) {
  const QStringList rows = Rows(main);
  Report("rows\t" + when + "\t" + QString::number(rows.size()));
  for (const QString& row : rows) Report(row);
  if (auto* yield = main.findChild<QLineEdit*>("YieldEdit")) Report("yield\t" + yield->text());
}

QString ResultSign() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() != "TPassForm" || !w->isVisible()) continue;
    const auto* pass = w->findChild<QLabel*>("passLabel");
    const auto* fail = w->findChild<QLabel*>("failLabel");
    if (pass != nullptr && pass->isVisibleTo(w)) return "PASS";
    if (fail != nullptr && fail->isVisibleTo(w)) return "FAIL";
  }
  return "none";
}

void CloseResultWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "TPassForm" && w->isVisible()) w->close();
}

class Driver : public QObject {
 public:
  explicit Driver(QObject* owner) : QObject(owner) {
    timer_.setInterval(kLookIntervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Look(); });
    timer_.start();
  }

 private:
  enum class Stage { kWaitingForStart, kRunning, kDone };

  void Look() {
    if (AnswerMessageBox() || stage_ != Stage::kWaitingForStart) return;
    QMainWindow* main = MainWindow();
    if (main == nullptr || QApplication::activeModalWidget() != nullptr) return;
    // START usable and the rows drawn as the last look saw them: the
    // window has settled after its refresh.
    auto* start = main->findChild<QPushButton*>("ExecuteBtn");
    const bool usable = start != nullptr && start->isVisible() && start->isEnabled();
    const QStringList rows = Rows(*main);
    const bool settled = usable && !rows.isEmpty() && rows == lastRows_;
    lastRows_ = rows;
    if (!settled) {
      if (++looks_ < kStartLooks) return;
      if (!usable) {
        Report("start disabled");
        Finish(*main);
        return;
      }
    }
    stage_ = Stage::kRunning;
    ReportRows(*main, "ready");
    SavePicture("ready");
    // The click's handler runs the whole pass and its waits process the
    // window's messages. Qt does not fire a timer again while its own slot
    // runs, so the click is made from another one and this one goes on
    // answering boxes meanwhile.
    QTimer::singleShot(0, this, [this, main, start] { Press(*main, start); });
  }

  void Press(QMainWindow& main, QPushButton* start) {
    QTest::mouseClick(start, Qt::LeftButton);
    QCoreApplication::processEvents();  // what the pass posted last
    ReportRows(main, "after");
    Report("result\t" + ResultSign());
    SavePicture("result");
    Finish(main);
  }

  // A message box shows: report it and press its default button.
  bool AnswerMessageBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return false;
    Report("message\t" + box->windowTitle() + "\t" + QString(box->text()).replace("\n", "\\n"));
    QAbstractButton* button = box->defaultButton();
    if (button == nullptr && !box->buttons().isEmpty()) button = box->buttons().front();
    if (button != nullptr) QTest::mouseClick(button, Qt::LeftButton);
    return true;
  }

  void Finish(QMainWindow& main) {
    stage_ = Stage::kDone;
    CloseResultWindow();
    main.close();
  }

  QTimer timer_;
  QStringList lastRows_;
  Stage stage_ = Stage::kWaitingForStart;
  int looks_ = 0;
};

void StartDriver() {
  platform::SetClockScale(kClockScale);
  new Driver(QCoreApplication::instance());
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartDriver)
