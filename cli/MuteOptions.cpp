#include "MuteOptions.h"

#include "MuteState.h"

#include <charconv>
#include <ctime>

namespace cli {

std::optional<std::int64_t> ParseDuration(const std::string& text) {
    static constexpr std::pair<char, std::int64_t> kUnits[] = {{'d', 86400}, {'h', 3600}, {'m', 60}};
    std::int64_t seconds = 0;
    std::size_t at = 0;
    std::size_t unit = 0; // the units in their order, each once
    while (at < text.size()) {
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), number);
        if (error != std::errc() || number < 0 || end == text.data() + text.size())
            return std::nullopt;
        while (unit < std::size(kUnits) && kUnits[unit].first != *end)
            ++unit;
        if (unit == std::size(kUnits) || number > kMaxMuteSeconds / kUnits[unit].second)
            return std::nullopt;
        seconds += number * kUnits[unit++].second;
        at = static_cast<std::size_t>(end - text.data()) + 1;
    }
    if (seconds < 60 || seconds > kMaxMuteSeconds)
        return std::nullopt;
    return seconds;
}

std::string BadDurationText(const std::string& text) {
    return "not a DURATION: '" + text + "' (say 90m, 2h, 1d or 1h30m; from 1m to 365d)";
}

std::string UntilText(std::int64_t until) {
    if (until == MuteState::kUntilResumed)
        return "until resumed";
    const std::time_t seconds = static_cast<std::time_t>(until);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    return std::strftime(text, sizeof text, "until %Y-%m-%d %H:%M", &local) ? text : "until " + std::to_string(until);
}

std::vector<std::string> MuteLines(const MuteState& state, std::int64_t now) {
    std::vector<std::string> lines;
    if (state.listUntil > now)
        lines.push_back("the whole list " + UntilText(state.listUntil));
    for (const auto& [name, until] : state.entries) {
        if (until > now)
            lines.push_back(name + " " + UntilText(until));
    }
    return lines;
}

} // namespace cli
