#include "AlertEnvironment.h"

#include "CItemList.h"
#include "PassHolds.h"
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

std::string KindField(const CItem& item) {
    return item.m_bConnect ? std::to_string(item.m_nPort) : std::string("ICMP");
}

std::string FailedLine(const CItem& item) {
    const char* reason = item.m_tLastProbe >= 0 ? ProbeFailureText(item.m_nLastFailure) : "";
    return Field(item.m_strAddress) + '\t' + KindField(item) + '\t' + reason + '\n';
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

CommandInput ForCommand(const Event& event, const CItemList& list, const std::string& commandLine,
                        const PassHolds* holds) {
    CommandInput input;
    std::string& lines = input.standardInput;
    int count = 0;
    std::string behind;
    std::size_t row = 0;
    list.ForEach([&](const CItem& item) {
        const std::size_t at = row++;
        if (item.m_bResult != 0 || (holds && holds->Held(at)))
            return;
        if (const std::int32_t behindIt = holds ? holds->reach.Behind(at) : 0)
            behind += Field(item.m_strAddress) + '\t' + KindField(item) + '\t' + std::to_string(behindIt) + '\n';
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
    // Whole lines only, as many as one variable holds; PULSEWICK_FAILED gets the room left after it.
    if (!behind.empty()) {
        const std::size_t behindRoom = kMaxVariableBytes - std::string(kBehind).size() - 2; // '=' and the zero byte
        input.environment.push_back(std::string(kBehind) + "=" +
                                    behind.substr(0, behind.size() <= behindRoom
                                                         ? behind.size()
                                                         : behind.rfind('\n', behindRoom - 1) + 1));
    }
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
