#pragma once

#include "CSplashWindow.h"

#include <QApplication>

// The start-up picture the user has in front of them, found among the application's windows as
// any window would be; null when none is showing.
inline CSplashWindow* SplashOnScreen() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* splash = qobject_cast<CSplashWindow*>(window);
        if (splash && splash->isVisible())
            return splash;
    }
    return nullptr;
}
