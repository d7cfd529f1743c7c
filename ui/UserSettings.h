#pragma once

#include <QSettings>

namespace ui {

// The user's own desktop settings, which the list file does not hold:
// ~/.config/pulsewick/pulsewick.ini. Nothing is written there until the user sets one.
QSettings UserSettings();

} // namespace ui
