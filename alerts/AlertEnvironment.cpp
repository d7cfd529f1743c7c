#include "AlertEnvironment.h"

#include "CItemList.h"
#include "ProbeFailure.h"

#include <algorithm>
#include <ctime>

namespace alertenv {

namespace {

// A field of a line must not break the line or the columns: a tab or line break in a list
// value (a paste accident) becomes a blank, and the value of an environment variable ends at
// a zero byte anyway.
std::string Field(const std::string& text) {
    std::string field = text.substr(0, text.find('\0'));
    for (char& c : field) {
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    }
    return field;
}

// Where the two variables sized last are in the environment of ForCommand.
constexpr std::size_t kFailedAt = 3;
constexpr std::size_t kLeftOutAt = 4;

std::string FailedLine(const CItem& item) {
    const std::string kind = item.m_bConnect ? std::to_string(item.m_nPort) : std::string("ICMP");
    const char* reason = item.m_tLastProbe >= 0 ? ProbeFailureText(item.m_nLastFailure) : "";
    return Field(item.m_strAddress) + '\t' + kind + '\t' + reason + '\n';
}

} // namespace

std::string Iso8601(std::chrono::system_clock::time_point t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0)
        return {};
    std::string iso = text;
    iso.insert(iso.size() - 2, ":"); // +0100 -> +01:00
    return iso;
}

CommandInput ForCommand(const Event& event, const CItemList& list, const std::string& commandLine) {
    CommandInput input;
    std::string& lines = input.standardInput;
    int count = 0;
    list.ForEach([&](const CItem& item) {
        if (item.m_bResult != 0)
            return;
        lines += FailedLine(item);
        ++count;
    });
    // The count of lines left out is reserved at its longest while the room is measured.
    input.environment = {std::string(kEvent) + "=" + event.kind,
                         std::string(kList) + "=" + event.listPath,
                         std::string(kFailedCount) + "=" + std::to_string(count),
                         std::string(kFailed) + "=",
                         std::string(kFailedLeftOut) + "=" + std::to_string(count),
                         std::string(kPassTime) + "=" + Iso8601(event.passTime)};
    const std::size_t room = std::min(kMaxVariableBytes - input.environment[kFailedAt].size() - 1, // its zero byte
                                      EnvironmentRoom(commandLine, input));
    // As many whole lines as fit.
    const std::size_t inVariable = lines.size() <= room ? lines.size()
                                   : room == 0          ? 0
                                                        : lines.rfind('\n', room - 1) + 1;
    const auto kept = std::count(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(inVariable), '\n');
    input.environment[kFailedAt] += lines.substr(0, inVariable);
    input.environment[kLeftOutAt] = std::string(kFailedLeftOut) + "=" + std::to_string(count - kept);
    return input;
}

} // namespace alertenv
