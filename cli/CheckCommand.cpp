#include "Commands.h"
#include "JsonOutput.h"

#include "CCheckRun.h"
#include "CItemList.h"
#include "CListFileLock.h"
#include "EntryNames.h"
#include "EntryParents.h"
#include "IcmpProbe.h"
#include "ProbeOptions.h"
#include "ProbeResults.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

namespace cli {

namespace {
// Ctrl-C during a run cancels it like the window's Cancel button: the handler only wakes the
// waiting run through a pipe.
int g_interruptWriteFd = -1;

extern "C" void OnInterrupt(int) {
    if (g_interruptWriteFd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(g_interruptWriteFd, &byte, 1);
    }
}

// Routes SIGINT (and SIGTERM) into a pipe while it lives; restores the old handlers after.
class InterruptPipe {
public:
    InterruptPipe() {
        if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            m_fds[0] = m_fds[1] = -1;
            return;
        }
        g_interruptWriteFd = m_fds[1];
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~InterruptPipe() {
        if (m_fds[0] < 0)
            return;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        g_interruptWriteFd = -1;
        ::close(m_fds[0]);
        ::close(m_fds[1]);
    }
    InterruptPipe(const InterruptPipe&) = delete;
    InterruptPipe& operator=(const InterruptPipe&) = delete;

    int ReadFd() const { return m_fds[0]; }
    bool Fired() const {
        char byte;
        return m_fds[0] >= 0 && ::read(m_fds[0], &byte, 1) == 1;
    }

private:
    int m_fds[2] = {-1, -1};
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};

// "12 of 1000 entries checked" on standard error while a run lasts, only on a terminal; the
// line is cleared before anything else is printed, so rows and messages stay clean.
class TerminalProgress {
public:
    TerminalProgress() : m_enabled(::isatty(STDERR_FILENO) == 1) {}
    ~TerminalProgress() { Hide(); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void Show(std::size_t finished, std::size_t total) {
        if (!m_enabled)
            return;
        char line[96];
        const int length = std::snprintf(line, sizeof line, "\r%zu of %zu entries checked\x1b[K", finished, total);
        Write(line, static_cast<std::size_t>(std::max(length, 0)));
        m_shown = true;
    }
    void Hide() {
        if (!m_shown)
            return;
        Write("\r\x1b[K", 4);
        m_shown = false;
    }

private:
    static void Write(const char* text, std::size_t length) {
        std::fwrite(text, 1, length, stderr);
        std::fflush(stderr);
    }

    bool m_enabled;
    bool m_shown = false;
};

// Microseconds as milliseconds with three decimals; "null" for none, as JSON has it.
std::string Milliseconds(std::int64_t us) {
    if (us < 0)
        return "null";
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", static_cast<double>(us) / 1000.0);
    return ms;
}

std::string RoundTripText(std::int64_t us) {
    return us < 0 ? "-" : Milliseconds(us) + " ms";
}

// The last column: the round trip of an answer, the reason of a failure.
std::string RowLine(std::size_t row, const CItem& item, const std::string& status, const std::string& last) {
    std::string line = "  " + Padded(std::to_string(row + 1), 6) + Padded(JsonQuote(item.m_strAddress), 24) +
                       Padded(PortColumnText(item), 7) + Padded(status, 13) + last;
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line + "\n";
}

// What an answer measured: the round trip (the median of several attempts), with their loss.
std::string AnswerText(const CItem& item) {
    if (item.m_bLastDegraded)
        return ProbeReasonText(1, item.m_nLastFailure, item.m_lastStats, true);
    std::string text = RoundTripText(item.m_nLastRoundTripUs);
    if (item.m_lastStats.sent > 1)
        text += ", " + LossText(item.m_lastStats);
    return text;
}

// The fields of link quality, after "roundTripMs".
std::string LinkJson(const CItem& item) {
    const ProbeStats& stats = item.m_lastStats;
    std::string out = ", \"minRoundTripMs\": " + Milliseconds(stats.minUs) +
                      ", \"maxRoundTripMs\": " + Milliseconds(stats.maxUs) +
                      ", \"jitterMs\": " + Milliseconds(stats.jitterUs) + ", \"sent\": " + std::to_string(stats.sent) +
                      ", \"received\": " + std::to_string(stats.received) + ", \"lossRatio\": ";
    if (stats.sent > 0) {
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, "%.4g", stats.LossRatio());
        out += ratio;
    } else {
        out += "null";
    }
    return out + ", \"degraded\": " + (item.m_bLastDegraded ? "true" : "false");
}

// behind: the parent an unreachable entry failed behind; empty for any other.
std::string RowJson(std::size_t row, const CItem& item, bool probed, bool measuresLink, const std::string& behind) {
    std::string out = "    {\"row\": " + std::to_string(row + 1) + ", \"address\": " + JsonQuote(item.m_strAddress) +
                      ", \"kind\": \"" + (item.m_bConnect ? "tcp" : "icmp") +
                      "\", \"port\": " + std::to_string(item.m_nPort) + ", \"probed\": " + (probed ? "true" : "false");
    if (probed) {
        out += std::string(", \"ok\": ") + (item.m_bResult ? "true" : "false");
        out += ", \"roundTripMs\": " + Milliseconds(item.m_bResult ? item.m_nLastRoundTripUs : -1);
        if (measuresLink)
            out += LinkJson(item);
        const std::string reason =
            behind.empty() ? ProbeReasonText(item.m_bResult, item.m_nLastFailure, item.m_lastStats, item.m_bLastDegraded)
                           : UnreachableText(behind);
        out += ", \"reason\": " + (reason.empty() ? std::string("null") : JsonQuote(reason));
        if (!behind.empty())
            out += ", \"behind\": " + JsonQuote(behind);
    }
    return out + "}";
}

// Records the results of the pass in the list file as it is now. The pass took no lock, so other
// editors may have changed the file meanwhile: it is read again under the edit lock and only the
// results go into it, so their changes stay. Nothing new to record leaves the file untouched.
int SaveResults(const CItemList& probedList, const std::vector<bool>& probed, const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return SaveListOrReport(probedList, path); // a pipe or device keeps no list to read again
    int exitCode = kExitOk;
    CListFileLock lock;
    const std::unique_ptr<CItemList> now = LoadListOrReport(path, exitCode, &lock);
    if (!now)
        return exitCode;
    if (RecordProbeResults(probedList, probed, *now) == 0)
        return kExitOk;
    return SaveListOrReport(*now, path, &lock);
}

} // namespace

int RunCheck(const Args& givenArgs) {
    Args args = givenArgs;
    const std::optional<std::vector<std::string>> behindValues = TakeRepeated(args, "--behind");
    EntryParents parents;
    for (const std::string& value : behindValues.value_or(std::vector<std::string>{})) {
        if (const auto why = parents.Add(value)) {
            PrintError("--behind: " + *why);
            return UsageError(kCheckSynopsis);
        }
    }
    bool json = false;
    bool save = false;
    Args rest = args;
    ProbeSettings settings;
    if (const auto why = TakeProbeOptions(rest, settings)) {
        PrintError(*why);
        return UsageError(kCheckSynopsis);
    }
    const std::optional<std::string> path = ListAndSwitches(rest, {{"--json", &json}, {"--save", &save}});
    if (!path || !behindValues)
        return UsageError(kCheckSynopsis);

    int exitCode = kExitOk;
    const std::unique_ptr<CItemList> list = LoadListOrReport(*path, exitCode);
    if (!list)
        return exitCode;
    std::vector<std::size_t> parentOf;
    if (const auto why = parents.Resolve(*list, parentOf)) {
        PrintError("--behind for " + *path + ": " + *why);
        return kExitUsage;
    }
    // The parent of an unreachable entry fails in the same pass, wherever its row: with parents
    // the rows wait for the end of the run.
    Reachability reach;
    bool rowsMayGo = parents.IsEmpty();
    const auto unreachableBehind = [&](std::size_t row) {
        return reach.Unreachable(row) ? entrynames::EntryName(list->GetAt(reach.downParent[row])) : std::string();
    };

    if (!json && !list->IsEmpty())
        PrintOut("  " + Padded("Row", 6) + Padded("IP Address", 24) + Padded("Port", 7) + Padded("OK", 13) +
                 "Round trip or reason\n");
    std::vector<bool> probed(list->GetCount(), false);
    // Rows come in list order; the only gaps are probes still under way at an interruption.
    std::size_t nextRow = 0;
    const auto printUpTo = [&](std::size_t end) {
        if (!rowsMayGo)
            return;
        for (; nextRow < end; ++nextRow) {
            const CItem& item = list->GetAt(nextRow);
            if (!json)
                PrintOut(!probed[nextRow] ? RowLine(nextRow, item, "not probed", {})
                         : item.m_bResult ? RowLine(nextRow, item, "Yes", AnswerText(item))
                         : reach.Unreachable(nextRow)
                             ? RowLine(nextRow, item, "No", UnreachableText(unreachableBehind(nextRow)))
                             : RowLine(nextRow, item, "No",
                                       ProbeReasonText(0, item.m_nLastFailure, item.m_lastStats, false)));
        }
    };
    int result = -1;
    bool interrupted = false;
    {
        InterruptPipe interrupt;
        TerminalProgress progress;
        CCheckRun run;
        run.SetProbeSettings(settings);
        run.SetProgressFn([&](std::size_t finished, std::size_t total) { progress.Show(finished, total); });
        if (!list->IsEmpty())
            progress.Show(0, list->GetCount());
        result = run.RunBlocking(
            *list,
            [&](std::size_t row, const CItem&, int) {
                probed[row] = true;
                progress.Hide();
                printUpTo(row + 1);
            },
            interrupt.ReadFd());
        interrupted = interrupt.Fired();
    }
    if (result < 0) {
        PrintError(std::string("a check run could not be started"));
        return kExitFailed;
    }

    if (!rowsMayGo) {
        std::vector<bool> failed(probed.size());
        for (std::size_t row = 0; row < probed.size(); ++row)
            failed[row] = probed[row] && list->GetAt(row).m_bResult == 0;
        reach = JudgeReachability(parentOf, failed);
        rowsMayGo = true;
    }
    printUpTo(probed.size());
    const bool allProbed = std::find(probed.begin(), probed.end(), false) == probed.end();
    if (json) {
        std::string out = "{\n  \"result\": " + std::to_string(result) +
                          ",\n  \"interrupted\": " + (interrupted ? "true" : "false") + ",\n  \"entries\": [";
        for (std::size_t row = 0; row < probed.size(); ++row)
            out += (row ? ",\n" : "\n") +
                   RowJson(row, list->GetAt(row), probed[row], settings.MeasuresLink(), unreachableBehind(row));
        out += probed.empty() ? "]\n}\n" : "\n  ]\n}\n";
        PrintOut(out);
    }
    if (IsIcmpPrivilegeMissing()) {
        std::string help = kIcmpPrivilegeHelp;
        const std::string program = "PROGRAM";
        help.replace(help.find(program), program.size(), "\"$(command -v pulsewick-cli)\"");
        std::fputs(help.c_str(), stderr);
    }
    if (interrupted)
        PrintError(std::string("interrupted; the entries not reached were not probed"));

    if (save) {
        const int saved = SaveResults(*list, probed, *path);
        if (saved != kExitOk)
            return saved;
    }
    return result == 1 && allProbed ? kExitOk : kExitFailed;
}

} // namespace cli
