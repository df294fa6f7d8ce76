// A settings load's control effects applied to a main window, in the order
// the load gave them: controls found by their object names, timers by
// theirs, handlers run through the window's own table of named handlers.
#pragma once

#include <QWidget>

#include <functional>
#include <string_view>

#include "station/settings_engine.h"

namespace station {

// Runs the named control's handler; false when the window has none.
using NamedHandlerRunner = std::function<bool(std::string_view control)>;

void ApplyControlEffect(QWidget& form, const ControlEffect& effect, const NamedHandlerRunner& runHandler);

}  // namespace station
