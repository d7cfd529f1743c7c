#pragma once

#include <QTimer>

namespace cli {

// What the service manager hears from the monitor when it runs as a notify service (systemd sets
// NOTIFY_SOCKET); outside one, nothing. When the service has a watchdog, the monitor pings it from
// its event loop at half the interval asked for, so a loop that stops turning gets the monitor
// restarted.
class CServiceNotifier {
public:
    CServiceNotifier();
    CServiceNotifier(const CServiceNotifier&) = delete;
    CServiceNotifier& operator=(const CServiceNotifier&) = delete;

    void Ready();    // the first pass has started
    void Stopping(); // a stop was asked for

private:
    QTimer m_watchdog;
};

} // namespace cli
