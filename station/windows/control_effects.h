// A settings load's control effects applied to a main window, in the order
// the load gave them: controls found by their object names, timers by
// theirs, handlers run through the window's own table of named handlers.
#pragma once

#include <QWidget>

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

#include "station/settings_engine.h"

namespace station {

// Runs the named control's handler; false when the window has none.
using NamedHandlerRunner = std::function<bool(std::string_view control)>;

void ApplyControlEffect(QWidget& form, const ControlEffect& effect, const NamedHandlerRunner& runHandler);

// A handler of a main window that a load runs by its control's name.
template <class Form>
struct NamedHandler {
  std::string_view control;
  void (Form::*handler)();
};

// Every effect, in order, on `form`, with its table of named handlers.
template <class Form, size_t N>
void ApplyControlEffects(Form& form, const std::vector<ControlEffect>& effects,
                         const NamedHandler<Form> (&handlers)[N]) {
  const NamedHandlerRunner run = [&](std::string_view control) {
    for (const NamedHandler<Form>& h : handlers) {
      if (h.control != control) continue;
      (form.*h.handler)();
      return true;
    }
    return false;
  };
  for (const ControlEffect& effect : effects) ApplyControlEffect(form, effect, run);
}

}  // namespace station
