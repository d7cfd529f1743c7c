#include "CServiceNotifier.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdint>

namespace cli {

CServiceNotifier::CServiceNotifier() {
    std::uint64_t intervalUs = 0;
    if (::sd_watchdog_enabled(0, &intervalUs) <= 0)
        return;
    const std::uint64_t pingMs = std::max<std::uint64_t>(1, intervalUs / 2 / 1000);
    m_watchdog.setInterval(static_cast<int>(std::min<std::uint64_t>(pingMs, INT32_MAX)));
    QObject::connect(&m_watchdog, &QTimer::timeout, [] { ::sd_notify(0, "WATCHDOG=1"); });
    m_watchdog.start();
}

void CServiceNotifier::Ready() {
    ::sd_notify(0, "READY=1");
}

void CServiceNotifier::Stopping() {
    m_watchdog.stop();
    ::sd_notify(0, "STOPPING=1");
}

} // namespace cli
