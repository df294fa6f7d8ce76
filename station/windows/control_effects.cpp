#include "station/windows/control_effects.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <string>

#include "platform/debug.h"
#include "station/windows/clock_timer.h"
#include "station/windows/control_events.h"

namespace station {

void ApplyControlEffect(QWidget& form, const ControlEffect& effect, const NamedHandlerRunner& runHandler) {
  const QString name = QString::fromLatin1(effect.control.data(), static_cast<qsizetype>(effect.control.size()));
  if (effect.effect == Effect::kClickHandler || effect.effect == Effect::kChangeHandler) {
    if (!runHandler(effect.control))
      platform::DebugTrace("settings load: no handler for %s\n", std::string(effect.control).c_str());
    return;
  }
  if (auto* timer = form.findChild<ClockTimer*>(name); timer && effect.effect == Effect::kEnabled) {
    timer->SetEnabled(effect.value != 0);
    return;
  }
  QWidget* widget = form.findChild<QWidget*>(name);
  if (!widget) {
    platform::DebugTrace("settings load: no control %s\n", std::string(effect.control).c_str());
    return;
  }
  const QString text = FromStationText(effect.text);
  switch (effect.effect) {
    case Effect::kChecked:
      if (auto* box = qobject_cast<QCheckBox*>(widget)) box->setChecked(effect.value != 0);
      return;
    case Effect::kEnabled:
      widget->setEnabled(effect.value != 0);
      return;
    case Effect::kVisible:
      widget->setVisible(effect.value != 0);
      return;
    case Effect::kText:
    case Effect::kCaption:
      if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->setText(text);
      else if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setText(text);
      else if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(text);
      else if (auto* group = qobject_cast<QGroupBox*>(widget)) group->setTitle(text);
      return;
    case Effect::kItemIndex:
      if (auto* box = qobject_cast<QComboBox*>(widget))
        box->setCurrentIndex(effect.value < box->count() ? effect.value : -1);
      return;
    case Effect::kMaxLength:
      if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->setMaxLength(effect.value > 0 ? effect.value : 32767);
      return;
    case Effect::kClickHandler:
    case Effect::kChangeHandler:
      return;
  }
}

}  // namespace station
