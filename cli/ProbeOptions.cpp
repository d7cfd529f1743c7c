#include "ProbeOptions.h"

#include "CliSupport.h"

namespace cli {

namespace {

struct Range {
    std::string_view name;
    std::int32_t ProbeSettings::*member;
    std::int32_t low;
    std::int32_t high;
    const char* unit; // "milliseconds from", ...
};

} // namespace

std::optional<std::string> SetProbeOption(ProbeSettings& settings, std::string_view name, const std::string& value) {
    const Range ranges[] = {
        {"--echoes", &ProbeSettings::echoes, ProbeSettings::kMinEchoes, ProbeSettings::kMaxEchoes, "a number"},
        {"--echo-interval", &ProbeSettings::echoIntervalMs, MinEchoIntervalMs(), ProbeSettings::kMaxEchoIntervalMs,
         "milliseconds"},
        {"--tcp-timeout", &ProbeSettings::tcpTimeoutS, 1, ProbeSettings::kMaxTcpTimeoutS, "seconds"},
        {"--degraded-loss", &ProbeSettings::degradedLossPercent, 0, ProbeSettings::kMaxDegradedLossPercent,
         "a percentage"},
        {"--degraded-rtt", &ProbeSettings::degradedRttMs, 1, ProbeSettings::kMaxDegradedRttMs, "milliseconds"},
    };
    for (const Range& range : ranges) {
        if (range.name != name)
            continue;
        const std::optional<std::int32_t> number = ParseInt32(value);
        if (number && *number >= range.low && *number <= range.high) {
            settings.*range.member = *number;
            return std::nullopt;
        }
        std::string why = std::string(name) + " needs " + range.unit + " from " + std::to_string(range.low) + " to " +
                          std::to_string(range.high);
        if (range.member == &ProbeSettings::echoIntervalMs && range.low > ProbeSettings::kMinRootEchoIntervalMs)
            why += " (less only as root)";
        return why + ": '" + value + "'";
    }
    return "unknown option " + std::string(name);
}

} // namespace cli
