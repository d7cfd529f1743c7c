#pragma once

#include <QString>

namespace ui {

// Posts a notification to the desktop's notification service (org.freedesktop.Notifications on
// the session bus) without waiting for an answer; does nothing when there is no such service.
void SendDesktopNotification(const QString& summary, const QString& body);

} // namespace ui
