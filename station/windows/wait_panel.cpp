#include "station/windows/wait_panel.h"

#include <QEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include "station/station_messages.h"
#include "station/windows/control_events.h"

namespace station {
namespace {

constexpr uint32_t kBlue = 0xFF0000;  // BGR

// A bar with its brightest part at the right end, wider than the box it
// crosses.
QPixmap WaitPicture(QSize size) {
  QPixmap picture(size);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  QLinearGradient gradient(0, 0, picture.width(), 0);
  gradient.setColorAt(0, QColor(0, 0, 128, 0));
  gradient.setColorAt(1, BgrColor(kBlue));
  painter.fillRect(picture.rect(), gradient);
  return picture;
}

}  // namespace

WaitPanel::WaitPanel(QWidget* panel, QWidget* paintBox, QLabel* image, std::shared_ptr<platform::MessageQueue> queue)
    : panel_(panel), paintBox_(paintBox), image_(image), queue_(std::move(queue)) {
  if (image_->pixmap().isNull()) image_->setPixmap(WaitPicture(image_->size()));
  paintBox_->installEventFilter(this);
  queue_->SetHandler(kWmWaitFrame, [this] { DrawWaitFrame(); });
  queue_->SetHandler(kWmWaitEnded, [this] {
    panel_->hide();
    thread_.reset();  // it has asked for its last message
  });
}

WaitPanel::~WaitPanel() {
  thread_.reset();
  queue_->SetHandler(kWmWaitFrame, nullptr);
  queue_->SetHandler(kWmWaitEnded, nullptr);
}

void WaitPanel::Start() {
  panel_->raise();
  panel_->show();
  thread_ = std::make_unique<TMyThread>(queue_);
}

void WaitPanel::Stop() { thread_.reset(); }

// One frame, asked for by the thread: the picture at its x.
void WaitPanel::DrawWaitFrame() {
  if (thread_) x_ = thread_->X();
  ++frames_;
  paintBox_->update();
}

bool WaitPanel::eventFilter(QObject* watched, QEvent* e) {
  if (watched != paintBox_ || e->type() != QEvent::Paint) return false;
  QPainter painter(paintBox_);
  painter.drawPixmap(x_, 0, image_->pixmap());
  return true;
}

}  // namespace station
