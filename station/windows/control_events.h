// The one place where the window's events, as the station's handlers expect
// them, are mapped onto Qt:
//
// - A check box's click handler runs on every change of its checked state,
//   whether the operator clicked or code set it (a load, another handler):
//   the state-change signal, never the click signal. Setting the state it
//   already has runs nothing.
// - An edit's change handler runs on every change of its text, typed or set
//   by code: textChanged, not textEdited.
// - A choice's change handler runs only when the operator chooses an item:
//   activated. Selecting an item from code runs nothing.
// - A key handler sees each typed character first and may pass it, change it
//   or drop it. Pasted text goes through the same handler character by
//   character, so no paste brings in what typing could not; an edit may
//   refuse a paste as a whole first (its paste check).
// - Where a handler reads a control's Visible or Enabled, it means the
//   control's own flag, not what its parents make of it (OwnVisible,
//   OwnEnabled).
// - A tree or list view's click handler runs when the operator clicks one of
//   its items (the click selects it first); its double-click handler runs
//   on a double click anywhere in the view, on an item or not.
// - Colours are given as the station's BGR values (0x0000FF is red).
#pragma once

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QObject>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace station {

template <class F>
void OnClick(QCheckBox* box, F&& handler) {
  QObject::connect(box, &QCheckBox::stateChanged, box, [h = std::forward<F>(handler)](int) { h(); });
}

// A button's click.
template <class F>
void OnClick(QAbstractButton* button, F&& handler) {
  QObject::connect(button, &QAbstractButton::clicked, button,
                   [h = std::forward<F>(handler)](bool) { h(); });
}

template <class F>
void OnChange(QLineEdit* edit, F&& handler) {
  QObject::connect(edit, &QLineEdit::textChanged, edit,
                   [h = std::forward<F>(handler)](const QString&) { h(); });
}

template <class F>
void OnChange(QComboBox* box, F&& handler) {
  QObject::connect(box, &QComboBox::activated, box, [h = std::forward<F>(handler)](int) { h(); });
}

template <class F>
void OnClick(QAbstractItemView* view, F&& handler) {
  QObject::connect(view, &QAbstractItemView::clicked, view,
                   [h = std::forward<F>(handler)](const QModelIndex&) { h(); });
}

// Installs the view's double-click handler.
void OnDblClick(QAbstractItemView* view, std::function<void()> handler);

// The typed character ('\r' for Enter, '\b' for Backspace) in; the character
// to insert out, or 0 to drop the key.
using KeyHandler = std::function<char(char key)>;

// Installs (or, with an empty handler, removes) the edit's key handler.
void SetKeyHandler(QLineEdit* edit, KeyHandler handler);

// Whether a paste may go in at all, given the pasted characters (control
// characters left out); a refused paste changes nothing. Asked only while
// the edit has a key handler.
using PasteCheck = std::function<bool(std::string_view pasted)>;
void SetPasteCheck(QLineEdit* edit, PasteCheck check);

// The key preview of a main window, from its application-wide event filter:
// the character of a key typed anywhere in `window`, once per key (when it
// reaches the widget with the focus, before its parents); 0 for any other
// event or a key that is no 7-bit character.
char PreviewedKey(const QObject* watched, const QEvent* e, const QWidget* window);
// A text field has the focus: what is typed there is text, not a command.
bool TextFieldHasFocus();

// The control's own flags.
bool OwnVisible(const QWidget* widget);
bool OwnEnabled(const QWidget* widget);

// A BGR colour value as a Qt colour.
QColor BgrColor(uint32_t bgr);
// The text colour of a label or button; none restores the style's own.
void SetTextColor(QWidget* widget, uint32_t bgr);
void ResetTextColor(QWidget* widget);

// The station's 8-bit text (Latin-1; other characters become '?') and back.
std::string ToStationText(const QString& text);
QString FromStationText(std::string_view text);

// Sets an edit's text (its change handler runs when the text differs).
void SetText(QLineEdit* edit, std::string_view text);
std::string TextOf(const QLineEdit* edit);

}  // namespace station

