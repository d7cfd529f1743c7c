#include "ProbeSettings.h"

#include <unistd.h>

std::int32_t MinEchoIntervalMs() {
    // The real user, as ping asks: a program given CAP_NET_RAW runs for anybody.
    return ::getuid() == 0 ? ProbeSettings::kMinRootEchoIntervalMs : ProbeSettings::kMinUserEchoIntervalMs;
}
