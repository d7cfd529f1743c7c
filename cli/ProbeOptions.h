#pragma once

#include "ProbeSettings.h"

#include <optional>
#include <string>
#include <string_view>

namespace cli {

// The probe options of check and monitor, which the list file does not hold.
inline constexpr const char* kProbeOptions[] = {"--echoes", "--echo-interval", "--tcp-timeout", "--degraded-loss",
                                                "--degraded-rtt"};
#define PULSEWICK_PROBE_OPTIONS_SYNOPSIS                                                                               \
    "[--echoes N] [--echo-interval MS] [--tcp-timeout SECONDS] [--degraded-loss PERCENT] [--degraded-rtt MS]"

// Sets the option called name (one of kProbeOptions) from its text; returns why it cannot, or
// nothing.
std::optional<std::string> SetProbeOption(ProbeSettings& settings, std::string_view name, const std::string& value);

} // namespace cli
