#include "station/windows/control_events.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPalette>

#include <memory>
#include <string>

#include "platform/text.h"

namespace station {
namespace {

constexpr char kKeyFilterName[] = "stationKeyFilter";

char StationChar(QChar c) { return c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : '?'; }

// The key handler of one edit, in front of the edit's own key handling.
class KeyFilter : public QObject {
 public:
  explicit KeyFilter(QLineEdit* edit) : QObject(edit), edit_(edit) {
    setObjectName(kKeyFilterName);
    edit->installEventFilter(this);
  }
  KeyHandler handler;
  PasteCheck pasteCheck;

  bool eventFilter(QObject*, QEvent* e) override {
    if (!handler) return false;
    if (e->type() == QEvent::KeyPress) return KeyPress(*static_cast<QKeyEvent*>(e));
    if (e->type() == QEvent::ContextMenu) {
      ContextMenu(*static_cast<QContextMenuEvent*>(e));
      return true;
    }
    // X11 pastes the primary selection on a middle-button release, past the handler.
    if (e->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(e)->button() == Qt::MiddleButton &&
        QGuiApplication::clipboard()->supportsSelection() && !edit_->isReadOnly()) {
      edit_->deselect();  // as the edit's own middle-button paste: at the cursor
      Paste(QClipboard::Selection);
      return true;
    }
    // Dropped text would bypass the handler.
    return e->type() == QEvent::DragEnter || e->type() == QEvent::Drop;
  }

 private:
  bool KeyPress(const QKeyEvent& key) {
    if (key.matches(QKeySequence::Paste)) {
      Paste();
      return true;
    }
    const QString text = key.text();
    if (text.size() != 1) return false;
    const char typed = StationChar(text[0]);
    const char result = handler(typed);
    if (result == 0) return true;
    if (result == typed) return false;
    edit_->insert(QString(QChar(static_cast<uchar>(result))));
    return true;
  }

  // Each pasted character as if typed; line breaks and other control
  // characters of the clipboard are not keys and are left out. What is left
  // replaces the selection, as a paste does, even when nothing is left.
  void Paste(QClipboard::Mode mode = QClipboard::Clipboard) {
    const QString pasted = QGuiApplication::clipboard()->text(mode);
    if (pasted.isEmpty()) return;
    std::string typed;
    for (QChar c : pasted)
      if (c.unicode() >= 0x20) typed += StationChar(c);
    if (pasteCheck && !pasteCheck(typed)) return;
    QString filtered;
    for (char c : typed)
      if (const char r = handler(c); r != 0) filtered.append(QChar(static_cast<uchar>(r)));
    edit_->insert(filtered);
  }

  void ContextMenu(const QContextMenuEvent& event) {
    std::unique_ptr<QMenu> menu(edit_->createStandardContextMenu());
    for (QAction* action : menu->actions()) {
      if (action->objectName() != QLatin1String("edit-paste")) continue;
      QObject::disconnect(action, &QAction::triggered, nullptr, nullptr);
      QObject::connect(action, &QAction::triggered, this, [this] { Paste(); });
    }
    menu->exec(event.globalPos());
  }

  QLineEdit* edit_;
};

// A double click anywhere in an item view, items or empty space.
class DoubleClickFilter : public QObject {
 public:
  DoubleClickFilter(QAbstractItemView* view, std::function<void()> handler)
      : QObject(view), handler_(std::move(handler)) {
    view->viewport()->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonDblClick) handler_();
    return false;
  }

 private:
  std::function<void()> handler_;
};

// The edit's key filter, made on first use.
KeyFilter& KeyFilterOf(QLineEdit* edit) {
  auto* filter = dynamic_cast<KeyFilter*>(edit->findChild<QObject*>(kKeyFilterName, Qt::FindDirectChildrenOnly));
  return filter ? *filter : *new KeyFilter(edit);
}

void SetRoleColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
    palette.setColor(role, color);
  widget->setPalette(palette);
}

}  // namespace

void SetKeyHandler(QLineEdit* edit, KeyHandler handler) { KeyFilterOf(edit).handler = std::move(handler); }

void SetPasteCheck(QLineEdit* edit, PasteCheck check) { KeyFilterOf(edit).pasteCheck = std::move(check); }

void OnDblClick(QAbstractItemView* view, std::function<void()> handler) {
  new DoubleClickFilter(view, std::move(handler));
}

char PreviewedKey(const QObject* watched, const QEvent* e, const QWidget* window) {
  if (e->type() != QEvent::KeyPress) return 0;
  const QWidget* focus = QApplication::focusWidget();
  const QString text = static_cast<const QKeyEvent*>(e)->text();
  const bool first = focus ? watched == focus && focus->window() == window : watched == window;
  if (!first || text.size() != 1 || text[0].unicode() >= 0x80) return 0;
  return static_cast<char>(text[0].unicode());
}

bool TextFieldHasFocus() { return qobject_cast<const QLineEdit*>(QApplication::focusWidget()) != nullptr; }

bool OwnVisible(const QWidget* widget) {
  const QWidget* parent = widget->parentWidget();
  return parent ? widget->isVisibleTo(parent) : !widget->isHidden();
}

bool OwnEnabled(const QWidget* widget) { return !widget->testAttribute(Qt::WA_ForceDisabled); }

QColor BgrColor(uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

void SetTextColor(QWidget* widget, uint32_t bgr) { SetRoleColor(widget, BgrColor(bgr)); }

void ResetTextColor(QWidget* widget) {
  SetRoleColor(widget, QApplication::palette(widget).color(QPalette::WindowText));
}

std::string ToStationText(const QString& text) {
  return platform::WideToAnsi(reinterpret_cast<const char16_t*>(text.utf16()),
                              static_cast<size_t>(text.size()));
}

QString FromStationText(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void SetText(QLineEdit* edit, std::string_view text) { edit->setText(FromStationText(text)); }

std::string TextOf(const QLineEdit* edit) { return ToStationText(edit->text()); }

}  // namespace station
