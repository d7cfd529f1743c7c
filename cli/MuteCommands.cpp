#include "Commands.h"
#include "MuteOptions.h"

#include "CItemList.h"
#include "EntryNames.h"
#include "MuteFile.h"

#include <ctime>
#include <functional>
#include <set>

namespace cli {

namespace {

// The arguments after LIST (and DURATION) as entry names of list; nothing, after saying why,
// when one names no entry. A name that has left the list still names its own mute.
std::optional<std::vector<std::string>> EntryNames(const CItemList& list, const std::string& path,
                                                   const std::vector<std::string>& names, const MuteState* known) {
    std::set<std::string> seen;
    std::vector<std::string> entries;
    for (const std::string& name : names) {
        const std::vector<std::size_t> rows = entrynames::Match(list, name);
        if (rows.empty() && known && known->entries.count(name) != 0) {
            if (seen.insert(name).second)
                entries.push_back(name);
            continue;
        }
        if (rows.empty()) {
            PrintError("no entry '" + name + "' in " + path + " (name it as ADDRESS, ADDRESS:PORT or ADDRESS:ICMP)");
            return std::nullopt;
        }
        for (const std::size_t row : rows) {
            if (std::string entry = entrynames::EntryName(list.GetAt(row)); seen.insert(entry).second)
                entries.push_back(std::move(entry));
        }
    }
    return entries;
}

// LIST and what follows it, with --state-dir; nothing after a usage error.
struct MuteArguments {
    std::vector<std::string> arguments;
    std::optional<std::string> stateDir;
};

std::optional<MuteArguments> ReadArguments(const Args& args, std::size_t least) {
    MuteArguments read;
    auto arguments = ArgumentsAndSwitches(args, {}, {{kStateDirOption, &read.stateDir}});
    if (!arguments || arguments->size() < least || (read.stateDir && read.stateDir->empty()))
        return std::nullopt;
    read.arguments = std::move(*arguments);
    return read;
}

// Changes the list's mute state; the exit status.
int ChangeState(const MuteFile& file, const std::function<void(MuteState&)>& change) {
    std::string problem;
    const std::string error = file.Change(change, problem);
    if (!problem.empty())
        PrintError(problem + "; written anew with what could be read");
    if (!error.empty()) {
        PrintError(error);
        return kExitFileError;
    }
    return kExitOk;
}

} // namespace

int RunMute(const Args& args) {
    const std::optional<MuteArguments> read = ReadArguments(args, 2);
    if (!read)
        return UsageError(kMuteSynopsis);
    const std::string& path = read->arguments[0];
    const std::optional<std::int64_t> seconds = ParseDuration(read->arguments[1]);
    if (!seconds) {
        PrintError(BadDurationText(read->arguments[1]));
        return UsageError(kMuteSynopsis);
    }
    int exitCode = kExitOk;
    const std::unique_ptr<CItemList> list = LoadListOrReport(path, exitCode);
    if (!list)
        return exitCode;
    const std::optional<std::vector<std::string>> entries =
        EntryNames(*list, path, {read->arguments.begin() + 2, read->arguments.end()}, nullptr);
    if (!entries)
        return kExitUsage;

    const std::int64_t until = static_cast<std::int64_t>(std::time(nullptr)) + *seconds;
    const MuteFile file(read->stateDir.value_or(std::string()), path);
    std::vector<std::int64_t> held; // per name, or the list's alone
    exitCode = ChangeState(file, [&](MuteState& state) {
        held.clear();
        if (entries->empty())
            held.push_back(state.HoldUntil({}, until));
        for (const std::string& entry : *entries)
            held.push_back(state.HoldUntil(entry, until));
    });
    if (exitCode != kExitOk)
        return exitCode;
    if (entries->empty())
        PrintOut(path + ": alerts muted " + UntilText(held.front()) + "\n");
    for (std::size_t i = 0; i < entries->size(); ++i)
        PrintOut((*entries)[i] + ": alerts muted " + UntilText(held[i]) + "\n");
    return kExitOk;
}

int RunUnmute(const Args& args) {
    const std::optional<MuteArguments> read = ReadArguments(args, 1);
    if (!read)
        return UsageError(kUnmuteSynopsis);
    const std::string& path = read->arguments[0];
    int exitCode = kExitOk;
    const std::unique_ptr<CItemList> list = LoadListOrReport(path, exitCode);
    if (!list)
        return exitCode;
    const MuteFile file(read->stateDir.value_or(std::string()), path);
    std::string problem;
    const MuteState before = file.Read(problem);
    const std::optional<std::vector<std::string>> entries =
        EntryNames(*list, path, {read->arguments.begin() + 1, read->arguments.end()}, &before);
    if (!entries)
        return kExitUsage;

    MuteState after;
    exitCode = ChangeState(file, [&](MuteState& state) {
        if (entries->empty())
            state = MuteState{};
        for (const std::string& entry : *entries)
            state.entries.erase(entry);
        after = state;
    });
    if (exitCode != kExitOk)
        return exitCode;
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (entries->empty())
        PrintOut(path + ": alerts resume\n");
    for (const std::string& entry : *entries) {
        const bool wasMuted = before.entries.count(entry) != 0 && before.entries.at(entry) > now;
        PrintOut(entry + (wasMuted ? ": alerts resume\n" : ": was not muted on its own\n"));
    }
    if (!entries->empty() && after.listUntil > now)
        PrintOut(path + ": the whole list stays muted " + UntilText(after.listUntil) + "\n");
    return kExitOk;
}

} // namespace cli
