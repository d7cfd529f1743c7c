#pragma once

#include "ProbeSettings.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The probe options of check and monitor, which the list file does not hold.
inline constexpr const char* kProbeOptions[] = {"--echoes", "--echo-interval", "--tcp-timeout", "--degraded-loss",
                                                "--degraded-rtt"};
#define PULSEWICK_PROBE_OPTIONS_SYNOPSIS                                                                               \
    "[--echoes N] [--echo-interval MS] [--tcp-timeout SECONDS] [--degraded-loss PERCENT] [--degraded-rtt MS]"

// Takes the probe options out of args (up to a "--"), each given once as "--echoes N" or
// "--echoes=N", into settings; returns why they cannot be read, or nothing. check and monitor
// both read them here, so they take the same forms and say the same.
std::optional<std::string> TakeProbeOptions(std::vector<std::string>& args, ProbeSettings& settings);

} // namespace cli
