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

// Sets the option called name from its text; returns why it cannot, or nothing.
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

} // namespace

std::optional<std::string> TakeProbeOptions(std::vector<std::string>& args, ProbeSettings& settings) {
    bool given[std::size(kProbeOptions)] = {};
    std::vector<std::string> rest;
    for (auto at = args.begin(); at != args.end(); ++at) {
        if (*at == "--") {
            rest.insert(rest.end(), at, args.end());
            break;
        }
        const std::string& arg = *at;
        std::size_t option = 0;
        std::optional<std::string> value;
        for (; option < std::size(kProbeOptions); ++option) {
            const std::string_view name = kProbeOptions[option];
            if (arg == name)
                break;
            if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
                value = arg.substr(name.size() + 1);
                break;
            }
        }
        if (option == std::size(kProbeOptions)) {
            rest.push_back(arg);
            continue;
        }
        const std::string_view name = kProbeOptions[option];
        if (given[option])
            return std::string(name) + " given more than once";
        given[option] = true;
        if (!value)
            value = ++at == args.end() ? std::string() : *at; // a missing value reads as an empty one
        if (auto why = SetProbeOption(settings, name, *value))
            return why;
        if (at == args.end())
            break;
    }
    args = std::move(rest);
    return std::nullopt;
}

} // namespace cli
