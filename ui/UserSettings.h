#pragma once

#include <QSettings>

namespace ui {
// The user's own desktop settings of the window (never the list's): ~/.config/pulsewick/pulsewick.ini.
QSettings UserSettings();
} // namespace ui
