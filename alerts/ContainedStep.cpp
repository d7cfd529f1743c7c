#include "ContainedStep.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace alerts {

namespace {
// Long enough for any description a step gives; a longer one is cut, the line still ends.
constexpr std::size_t kMaxLine = 1024;
} // namespace

void ReportStepError(const char* step, const char* what) noexcept {
    char line[kMaxLine];
    // program_invocation_short_name: the executable's name, as the message boxes' caption.
    const int n = std::snprintf(line, sizeof line, "%s: %s ended with an error: %s\n", program_invocation_short_name,
                                step, what != nullptr ? what : "");
    if (n <= 0)
        return;
    const std::size_t length =
        static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
    // One plain line whatever the description holds.
    for (std::size_t i = 0; i + 1 < length; ++i) {
        if (line[i] == '\n' || line[i] == '\r')
            line[i] = ' ';
    }
    line[length - 1] = '\n';
    // One write, so lines of concurrent writers do not interleave.
    (void)!::write(STDERR_FILENO, line, length);
}

} // namespace alerts
