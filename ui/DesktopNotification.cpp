#include "DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace ui {
namespace {
constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kAppName = "pulsewick";
constexpr const char* kIconName = "pulsewick";
constexpr int kServerDefaultTimeout = -1;
} // namespace

void SendDesktopNotification(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                       QString::fromLatin1(kService), QStringLiteral("Notify"));
    call << QString::fromLatin1(kAppName) << 0u << QString::fromLatin1(kIconName) << summary << body << QStringList()
         << QVariantMap() << kServerDefaultTimeout;
    // Sent, not called: a slow or missing notification service must never hold up the window.
    bus.send(call);
}

} // namespace ui
